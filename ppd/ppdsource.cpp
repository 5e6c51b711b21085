// DfPpdSource: the PPD compiler source of every driver, written from
// the family descriptors; ppdc makes the PPDs from it (ppd/CMakeLists.txt).
#include "ppd/ppdsource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "printers/family.h"

namespace {

void Options(FILE* out, const std::vector<DfOption>& options, const char* indent) {
    const char* group = nullptr;
    for (const DfOption& o : options) {
        if (!group || strcmp(group, o.group)) {
            fprintf(out, "%sGroup \"%s\"\n", indent, o.group);
            group = o.group;
        } else {
            fprintf(out, "\n");
        }
        fprintf(out, "%s  Option \"%s/%s\" PickOne AnySetup %d\n", indent, o.keyword, o.text, o.order);
        for (const DfChoice& c : o.choices)
            fprintf(out, "%s    %sChoice \"%s/%s\" \"\"\n", indent, strcmp(c.name, o.deflt) ? "" : "*",
                    c.name, c.text);
    }
}

void Driver(FILE* out, const DfFamily& f, const DfDriver& d) {
    fprintf(out, "\n    {\n");
    fprintf(out, "      ModelName \"%s\"\n", d.modelName);
    fprintf(out, "      Attribute \"NickName\" \"\" \"%s\"\n", d.makeModel);
    fprintf(out, "      Attribute \"ShortNickName\" \"\" \"%s\"\n", d.shortName);
    fprintf(out, "      Attribute \"Product\" \"\" \"(%s)\"\n", d.modelName);
    fprintf(out, "      PCFileName \"dotforge-%s.ppd\"\n", d.name);
    fprintf(out, "      Attribute \"dotforgeHeadDots\" \"\" \"%d\"\n", d.headDots);
    fprintf(out, "      *Resolution - 8 0 0 0 \"%ddpi/%d DPI\"\n", d.dpi, d.dpi);
    for (const auto& a : f.attributes)
        fprintf(out, "      Attribute \"%s\" \"\" \"%s\"\n", a.first, a.second);
    fprintf(out, "\n");
    for (const char* m : d.media)
        fprintf(out, "      %sMediaSize %s\n", strcmp(m, d.mediaDefault) ? "" : "*", m);
    fprintf(out, "      MinSize %s %s\n", d.minSize[0], d.minSize[1]);
    fprintf(out, "      MaxSize %s %s\n", d.maxSize[0], d.maxSize[1]);
    fprintf(out, "    }\n");
}

}  // namespace

std::string DfPpdSource() {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    if (!out) return std::string();
    fprintf(out,
            "// Driver information for the dotforge thermal printer filter, written by\n"
            "// dotforge-ppdgen from the family descriptors (printers/*_family.cpp);\n"
            "// ppdc compiles it into one PPD per driver.\n\n");
    for (const DfMedium& m : DfMedia())
        fprintf(out, "#media \"%s/%s\" %s %s\n", m.ppd, m.text, m.width, m.length);
    fprintf(out,
            "\nCopyright \"Copyright (c) the dotforge authors.\"\n"
            "Copyright \"Distributed with the dotforge filter.\"\n\n"
            "Version \"1.0\"\n\n"
            "{\n"
            "  Manufacturer \"dotforge\"\n"
            "  DriverType custom\n"
            "  ColorDevice False\n"
            "  Throughput 1\n"
            "  ManualCopies Yes\n\n"
            "  Filter \"application/vnd.cups-raster 0 dotforge\"\n"
            "  Attribute \"cupsFilter2\" \"\" \"application/vnd.cups-raster application/vnd.dotforge 0 "
            "dotforge\"\n"
            "  Attribute \"cupsSNMPSupplies\" \"\" \"False\"\n"
            "  Attribute \"cupsVersion\" \"\" \"2.4\"\n"
            "  Attribute \"LandscapeOrientation\" \"\" \"Plus90\"\n\n"
            "  HWMargins 0 0 0 0\n\n"
            "  *ColorModel \"Gray/Grayscale\" w chunky 0\n\n");
    Options(out, DfImageOptions(), "  ");
    for (const DfFamily* f : DfFamilies()) {
        fprintf(out, "\n  // %s\n  {\n    ModelNumber %d\n    VariablePaperSize Yes\n\n", f->comment,
                f->modelNumber);
        Options(out, f->options, "    ");
        for (const DfDriver& d : f->drivers) Driver(out, *f, d);
        fprintf(out, "  }\n");
    }
    fprintf(out, "}\n");
    fclose(out);
    std::string source(text ? text : "", size);
    free(text);
    return source;
}
