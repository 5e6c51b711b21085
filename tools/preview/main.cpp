// dotforge-preview: shows what a printer stream written by the dotforge
// filter would print. Lists every command on standard output and writes one
// PNG per page; faults go to standard error with their byte offset.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/preview/preview.h"
#include "tools/preview/vprinter.h"

static const char kUsage[] =
    "usage: dotforge-preview [--model MODEL] [--head DOTS] [-o PREFIX] [FILE]\n"
    "Reads a printer stream from FILE (or standard input), lists its commands\n"
    "and writes each page as PREFIX-1.png, PREFIX-2.png, ... (default prefix: page).\n"
    "Models: 20 TSPL, 21 ESC/POS, 22 CPCL, 23 Paperang, 24 PeriPage, or a PPD's\n"
    "name (escpos-58, escpos-80, tspl-203, ...); without --model the family is\n"
    "told from the first bytes. --head: the print head's width in dots (known\n"
    "from escpos-58/-80 and for PeriPage); a narrower centred receipt is drawn\n"
    "in the middle of a head-wide page, as the printer prints it.\n"
    "\n"
    "dotforge-preview --listen [HOST:]PORT | --pty [--status WORDS] [--status-file PATH]\n"
    "                 [--jobs N] [-o PREFIX] [--model MODEL]\n"
    "A virtual printer: takes jobs on a socket (loopback unless HOST says\n"
    "otherwise) or a pseudo-terminal (its path is printed), writes each job as\n"
    "PREFIX-N.prn and its pages as PREFIX-N-1.png, ..., and answers status\n"
    "queries with WORDS: ready, paper-out, paper-low, cover-open, jam,\n"
    "ribbon-out, overheat, battery=N, silent (never answers). PATH, when it\n"
    "exists, is read again at every query. Stops on SIGTERM or after N jobs.\n";

static bool ReadAll(FILE* f, std::vector<uint8_t>* out) {
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out->insert(out->end(), buf, buf + n);
    return !ferror(f);
}

int main(int argc, char** argv) {
    PreviewFamily family = PreviewFamily::Unknown;
    int headDots = 0;
    std::string prefix = "page";
    const char* input = nullptr;
    VirtualPrinterOptions server;
    bool serve = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        std::string value;
        bool hasValue = false;
        if (a == "-h" || a == "--help") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--pty") {
            server.pty = serve = true;
            continue;
        }
        if (a == "--listen" || a == "--status" || a == "--status-file" || a == "--jobs") {
            if (i + 1 >= argc) {
                fprintf(stderr, "dotforge-preview: %s needs a value\n%s", a.c_str(), kUsage);
                return 2;
            }
            value = argv[++i];
            serve = true;
            if (a == "--listen") {
                server.listen = value;
            } else if (a == "--status") {
                VirtualStatus check;
                std::string bad;
                if (!ParseVirtualStatus(value, &check, &bad)) {
                    fprintf(stderr, "dotforge-preview: unknown status word \"%s\"\n", bad.c_str());
                    return 2;
                }
                server.status = value;
            } else if (a == "--status-file") {
                server.statusFile = value;
            } else {
                char* end = nullptr;
                const long n = strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || n < 1 || n > 1000000) {
                    fprintf(stderr, "dotforge-preview: --jobs needs a number of jobs\n");
                    return 2;
                }
                server.jobs = static_cast<int>(n);
            }
            continue;
        }
        if (a == "--model" || a == "-m" || a == "-o" || a == "--output" || a == "--head") {
            if (i + 1 >= argc) {
                fprintf(stderr, "dotforge-preview: %s needs a value\n%s", a.c_str(), kUsage);
                return 2;
            }
            value = argv[++i];
            hasValue = true;
        } else if (a.compare(0, 8, "--model=") == 0 || a.compare(0, 9, "--output=") == 0 ||
                   a.compare(0, 7, "--head=") == 0) {
            size_t eq = a.find('=');
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            hasValue = true;
        }
        if (hasValue && (a == "--model" || a == "-m")) {
            family = ParseFamily(value.c_str());
            if (family == PreviewFamily::Unknown) {
                fprintf(stderr, "dotforge-preview: unknown model \"%s\" (expected %s)\n", value.c_str(),
                        PreviewModelNames().c_str());
                return 2;
            }
            if (!headDots) headDots = ParseHeadDots(value.c_str());
        } else if (hasValue && a == "--head") {
            char* end = nullptr;
            long dots = strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || dots < 1 || dots > kPreviewMaxDots) {
                fprintf(stderr, "dotforge-preview: --head needs a width in dots (1 to %d)\n", kPreviewMaxDots);
                return 2;
            }
            headDots = static_cast<int>(dots);
        } else if (hasValue) {
            if (value.empty()) {
                fprintf(stderr, "dotforge-preview: empty output prefix\n");
                return 2;
            }
            prefix = value;
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "dotforge-preview: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (!input) {
            input = argv[i];
        } else {
            fprintf(stderr, "dotforge-preview: more than one input file\n%s", kUsage);
            return 2;
        }
    }

    if (serve) {
        if (server.listen.empty() && !server.pty) {
            fprintf(stderr, "dotforge-preview: the virtual printer needs --listen or --pty\n");
            return 2;
        }
        if (input) {
            fprintf(stderr, "dotforge-preview: the virtual printer reads no file\n");
            return 2;
        }
        server.prefix = prefix;
        server.family = family;
        server.headDots = headDots;
        return RunVirtualPrinter(server);
    }

    std::vector<uint8_t> data;
    const char* inputName = input && strcmp(input, "-") ? input : "standard input";
    FILE* f = input && strcmp(input, "-") ? fopen(input, "rb") : stdin;
    if (!f) {
        fprintf(stderr, "dotforge-preview: %s: %s\n", input, strerror(errno));
        return 1;
    }
    bool readOk = ReadAll(f, &data);
    if (f != stdin) fclose(f);
    if (!readOk) {
        fprintf(stderr, "dotforge-preview: error reading %s\n", inputName);
        return 1;
    }

    PreviewResult result;
    // A family whose drivers all have the same head tells it (PeriPage).
    if (!headDots)
        headDots = FamilyHeadDots(family != PreviewFamily::Unknown ? family : DetectFamily(data.data(), data.size()));
    bool ok = DecodePrinterStream(data.data(), data.size(), family, &result, headDots);
    if (result.family != PreviewFamily::Unknown)
        printf("%s stream, %zu bytes (%s)\n", FamilyName(result.family), data.size(),
               family == PreviewFamily::Unknown ? "detected" : "as told");
    for (const PreviewLine& line : result.listing) printf("%8zu  %s\n", line.offset, line.text.c_str());

    bool written = true;
    for (size_t i = 0; i < result.pages.size(); i++) {
        const PreviewPage& page = result.pages[i];
        std::string path = prefix + "-" + std::to_string(i + 1) + ".png";
        if (page.width <= 0 || page.height <= 0) {
            printf("page %zu has no dots; no picture written\n", i + 1);
            continue;
        }
        std::string why;
        if (!WritePagePng(page, path, &why)) {
            fprintf(stderr, "dotforge-preview: cannot write page %zu: %s\n", i + 1, why.c_str());
            written = false;
            continue;
        }
        printf("page %zu: %d x %d dots -> %s%s\n", i + 1, page.width, page.height, path.c_str(),
               page.complete ? "" : " (unfinished)");
    }
    fflush(stdout);
    if (!ok) {
        fprintf(stderr, "dotforge-preview: %s: offset %zu (0x%zX): %s\n", inputName, result.errorOffset,
                result.errorOffset, result.error.c_str());
        if (!result.pages.empty())
            fprintf(stderr, "dotforge-preview: the %zu page%s decoded before the fault %s been written\n",
                    result.pages.size(), result.pages.size() == 1 ? "" : "s", result.pages.size() == 1 ? "has" : "have");
        return 1;
    }
    if (result.pages.empty()) printf("no pages\n");
    return written ? 0 : 1;
}
