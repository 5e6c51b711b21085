// dotforge-preview: shows what a printer stream written by the dotforge
// filter would print. Lists every command on standard output and writes one
// PNG per page; faults go to standard error with their byte offset.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tools/preview/preview.h"
#include "tools/preview/vprinter.h"

// Words joined into lines of at most 78 characters.
static std::string Wrap(const std::string& text) {
    std::string out, line, word;
    std::istringstream in(text);
    while (in >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > 78) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line + "\n";
}

// The models, drivers and fixed heads come from the family descriptors.
static std::string Usage() {
    std::string models, drivers, fixedHeads;
    for (const DfFamily* f : PreviewFamilies()) {
        models += std::to_string(f->modelNumber) + " " + f->name + ", ";
        for (const DfDriver& d : f->drivers) drivers += (drivers.empty() ? "" : ", ") + std::string(d.name);
        if (FamilyHeadDots(PreviewFamilyOf(*f)))  // all its drivers have one head
            fixedHeads += std::string(fixedHeads.empty() ? "" : ", ") + f->name;
    }
    return "usage: dotforge-preview [--model MODEL] [--head DOTS] [--max-job MIB] [-o PREFIX] [FILE]\n" +
           Wrap(
               "Reads a printer stream from FILE (or standard input), lists its commands and writes each "
               "page as PREFIX-1.png, PREFIX-2.png, ... (default prefix: page). Models: " +
               models + "or a PPD's name (" + drivers +
               "); without --model the family is told from the first bytes. --head: the print head's "
               "width in dots (known from a PPD's name and for " +
               fixedHeads +
               "); a narrower centred receipt is drawn in the middle of a head-wide page, as the printer "
               "prints it. A page has at most 65535 dots a side and 64 million dots; a stream at most "
               "--max-job MiB (default 32).") +
           "\n"
           "dotforge-preview --listen [HOST:]PORT | --pty [--pty-owner USER[:GROUP]]\n"
           "                 [--status WORDS] [--status-file PATH] [--jobs N] [--max-job MIB]\n"
           "                 [--idle-timeout SECONDS] [-o PREFIX] [--model MODEL]\n"
           "A virtual printer: takes jobs on a socket (loopback unless HOST says\n"
           "otherwise) or a pseudo-terminal (its path is printed), writes each job as\n"
           "PREFIX-N.prn and its pages as PREFIX-N-1.png, ..., and answers status\n"
           "queries with WORDS: ready, paper-out, paper-low, cover-open, jam,\n"
           "ribbon-out, overheat, battery=N, rfid (a Niimbot roll with a tag),\n"
           "flow-pause (a cat printer pauses the sender now and then), silent (never\n"
           "answers). Niimbot and cat printers answer their whole conversation (a\n"
           "Niimbot refuses a page with the lid open or no paper); --model\n"
           "niimbot-d11 plays a D110. PATH, when it exists, is read again at every\n"
           "query. Stops on SIGTERM or after N jobs.\n"
           "A larger job than --max-job is refused; at most 8 connections are open at\n"
           "once, and one silent for --idle-timeout seconds (default 30) is closed.\n"
           "--pty-owner makes the pty USER's (and GROUP's), mode 0660, so that a\n"
           "service running as USER can open it (root only).\n";
}

// Reads the whole stream; false when it cannot be read or passes limit
// (*tooLarge then says so).
static bool ReadAll(FILE* f, size_t limit, std::vector<uint8_t>* out, bool* tooLarge) {
    uint8_t buf[65536];
    size_t n;
    *tooLarge = false;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) {
        if (n > limit - out->size()) {
            *tooLarge = true;
            return false;
        }
        out->insert(out->end(), buf, buf + n);
    }
    return !ferror(f);
}

// A positive whole number up to max from an option's value; 0 when it is none.
static long Count(const std::string& value, long max) {
    char* end = nullptr;
    const long n = strtol(value.c_str(), &end, 10);
    return value.empty() || *end || n < 1 || n > max ? 0 : n;
}

int main(int argc, char** argv) {
    PreviewFamily family = PreviewFamily::Unknown;
    int headDots = 0;
    std::string prefix = "page";
    const char* input = nullptr;
    VirtualPrinterOptions server;
    bool serve = false;
    size_t maxJob = kPreviewDefaultMaxJobBytes;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        std::string value;
        bool hasValue = false;
        if (a == "-h" || a == "--help") {
            fputs(Usage().c_str(), stdout);
            return 0;
        }
        if (a == "--pty") {
            server.pty = serve = true;
            continue;
        }
        if (a == "--max-job") {
            const long mib = i + 1 < argc ? Count(argv[++i], 4096) : 0;
            if (!mib) {
                fprintf(stderr, "dotforge-preview: --max-job needs a size in MiB (1 to 4096)\n");
                return 2;
            }
            maxJob = static_cast<size_t>(mib) << 20;
            continue;
        }
        if (a == "--listen" || a == "--status" || a == "--status-file" || a == "--jobs" ||
            a == "--idle-timeout" || a == "--pty-owner") {
            if (i + 1 >= argc) {
                fprintf(stderr, "dotforge-preview: %s needs a value\n%s", a.c_str(), Usage().c_str());
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
            } else if (a == "--pty-owner") {
                uid_t uid;
                gid_t gid;
                std::string why;
                if (!ParsePtyOwner(value, &uid, &gid, &why)) {
                    fprintf(stderr, "dotforge-preview: --pty-owner: %s\n", why.c_str());
                    return 2;
                }
                server.ptyOwner = value;
            } else if (a == "--idle-timeout") {
                const long n = Count(value, 86400);
                if (!n) {
                    fprintf(stderr,
                            "dotforge-preview: --idle-timeout needs a number of seconds (1 to 86400)\n");
                    return 2;
                }
                server.idleSeconds = static_cast<int>(n);
            } else {
                const long n = Count(value, 1000000);
                if (!n) {
                    fprintf(stderr, "dotforge-preview: --jobs needs a number of jobs\n");
                    return 2;
                }
                server.jobs = static_cast<int>(n);
            }
            continue;
        }
        if (a == "--model" || a == "-m" || a == "-o" || a == "--output" || a == "--head") {
            if (i + 1 >= argc) {
                fprintf(stderr, "dotforge-preview: %s needs a value\n%s", a.c_str(), Usage().c_str());
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
                fprintf(stderr, "dotforge-preview: --head needs a width in dots (1 to %d)\n",
                        kPreviewMaxDots);
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
            fprintf(stderr, "dotforge-preview: unknown option %s\n%s", a.c_str(), Usage().c_str());
            return 2;
        } else if (!input) {
            input = argv[i];
        } else {
            fprintf(stderr, "dotforge-preview: more than one input file\n%s", Usage().c_str());
            return 2;
        }
    }

    if (serve) {
        if (!server.ptyOwner.empty() && !server.pty) {
            fprintf(stderr, "dotforge-preview: --pty-owner goes with --pty\n");
            return 2;
        }
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
        server.maxJobBytes = maxJob;
        return RunVirtualPrinter(server);
    }

    std::vector<uint8_t> data;
    const char* inputName = input && strcmp(input, "-") ? input : "standard input";
    FILE* f = input && strcmp(input, "-") ? fopen(input, "rb") : stdin;
    if (!f) {
        fprintf(stderr, "dotforge-preview: %s: %s\n", input, strerror(errno));
        return 1;
    }
    bool tooLarge = false;
    bool readOk = ReadAll(f, maxJob, &data, &tooLarge);
    if (f != stdin) fclose(f);
    if (tooLarge) {
        fprintf(stderr, "dotforge-preview: %s is larger than %zu MiB (--max-job raises the limit)\n",
                inputName, maxJob >> 20);
        return 1;
    }
    if (!readOk) {
        fprintf(stderr, "dotforge-preview: error reading %s\n", inputName);
        return 1;
    }

    PreviewResult result;
    // A family whose drivers all have the same head tells it (PeriPage).
    if (!headDots)
        headDots = FamilyHeadDots(family != PreviewFamily::Unknown ? family
                                                                   : DetectFamily(data.data(), data.size()));
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
                    result.pages.size(), result.pages.size() == 1 ? "" : "s",
                    result.pages.size() == 1 ? "has" : "have");
        return 1;
    }
    if (result.pages.empty()) printf("no pages\n");
    return written ? 0 : 1;
}
