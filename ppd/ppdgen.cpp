// dotforge-ppdgen: writes the PPD compiler source of every driver from the
// family descriptors to standard output; ppdc makes the PPDs from it at
// build time (ppd/CMakeLists.txt). With "drivers" it lists the PPD file
// names instead, one a line.
#include <cstdio>
#include <cstring>
#include <string>

#include "printers/family.h"
#include "ppd/ppdsource.h"

int main(int argc, char** argv) {
    if (argc > 1 && !strcmp(argv[1], "drivers")) {
        for (const DfFamily* f : DfFamilies())
            for (const DfDriver& d : f->drivers) printf("dotforge-%s.ppd\n", d.name);
        return 0;
    }
    if (argc > 1) {
        fprintf(stderr, "Usage: dotforge-ppdgen [drivers]\n");
        return 2;
    }
    const std::string source = DfPpdSource();
    return !source.empty() && fwrite(source.data(), 1, source.size(), stdout) == source.size() && fflush(stdout) == 0 ? 0 : 1;
}
