// The English words of the web interface. PAPPL shows a vendor attribute
// under the string keyed by its name, each keyword value under "NAME.VALUE"
// and media sizes under "media.NAME"; integers it shows as numbers, so their
// names carry the unit, and its own strings win over ours for its standard
// attributes. Without these the printer pages show raw IPP keywords. The
// words come from the family descriptors, next to the PPDs' words, so a CUPS
// queue and a printer in the app read the same.
#include <set>
#include <string>

#include "app/web/webui.h"
#include "printers/family.h"

namespace {

void Line(std::string& out, std::set<std::string>& seen, const std::string& key, const char* words) {
    if (!seen.insert(key).second) return;
    out += "\"" + key + "\" = \"" + words + "\";\n";
}

void Words(std::string& out, std::set<std::string>& seen, const std::vector<DfOption>& options) {
    for (const DfOption& o : options) {
        if (!o.ipp) continue;
        Line(out, seen, o.ipp, o.web == kDfAsText || !o.web ? o.text : o.web);
        // A keyword always has words (the PPD's, unless the web page has its
        // own); a number shows as itself unless it has words of its own.
        for (const DfChoice& c : o.choices)
            if (c.web || c.ipp)
                Line(out, seen, std::string(o.ipp) + "." + (c.ipp ? c.ipp : c.name),
                     c.web && c.web != kDfAsText ? c.web : c.text);
    }
}

std::string Make() {
    std::string out = "\n";
    std::set<std::string> seen;
    Words(out, seen, DfImageOptions());
    for (const DfFamily* f : DfFamilies()) Words(out, seen, f->options);
    for (const DfMedium& m : DfMedia()) Line(out, seen, std::string("media.") + m.pwg, m.web);
    Line(out, seen, "dotforge-media-mismatch", "Pages for another size than the loaded label");
    Line(out, seen, "dotforge-media-mismatch.fit", "Fit them onto the loaded label");
    Line(out, seen, "dotforge-media-mismatch.hold", "Hold the job until that size is loaded");
    Line(out, seen, "dotforge-media-mismatch.as-sent", "Print them at their own size");
    out +=
        R"STRINGS("/" = "<p>dotforge drives TSPL and CPCL label printers, ESC/POS receipt printers and Paperang and PeriPage pocket printers. Choose a printer, then <em>Printing Defaults</em> for media, darkness, speed and the black and white method, or <em>Print Test Page</em> to see what the head reaches.</p>";)STRINGS";
    out += "\n";
    return out;
}

}  // namespace

const char* DfAppEnglishStrings() {
    static const std::string text = Make();
    return text.c_str();
}
