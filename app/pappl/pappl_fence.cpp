// The PAPPL fence's table and its check at start (see app/pappl/pappl_fence.h).
// The guards of app/ work only while libpappl calls the functions they
// replace through its PLT or GOT: a PAPPL built with link-time optimisation,
// -fno-semantic-interposition or -Bsymbolic calls its internals directly and
// every guard would be skipped without a sign. Such a build has no dynamic
// relocation naming the function, which the check reads from the loaded
// library's ELF file. A relocation shows that some calls go through the
// PLT or GOT, not all: a build mixing both would pass (none is known).
#include "app/pappl/pappl_fence.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

using U = DfFenceUse;
constexpr char k131[] = "1.3.1";
constexpr char kOpen[] = "open in 1.4.11";
constexpr char kUnchecked[] = "unchecked";

}  // namespace

const DfFenceSymbol kDfFenceSymbols[] = {
    // app/pappl/hardening.cpp
    {"_papplJobProcess", U::kReplaced, "pappl/hardening.cpp", k131,
     "the single start of a job (one job at a time per printer, oldest first)",
     "a job started twice when two clients finish at once: pages out twice or mixed, job data freed twice",
     kOpen},
    {"_papplJobProcessRaster", U::kReplaced, "pappl/hardening.cpp", k131,
     "one job at a time during a streamed raster job, and a failed page taken off the count",
     "a streamed raster job printed alongside a job started twice; job-impressions-completed counts a failed "
     "page",
     kOpen},
    {"_papplJobCopyDocumentData", U::kReplaced, "pappl/hardening.cpp", k131,
     "the hold on state saves while a refused document is flushed (lock order), and the full-spool message",
     "lock-order inversion between a job's document copy and papplSystemSaveState (server hangs for good)",
     kOpen},
    {"_papplClientFlushDocumentData", U::kReplaced, "pappl/hardening.cpp", k131,
     "the hold on state saves while a refused document is flushed (lock order)",
     "lock-order inversion between a job's document copy and papplSystemSaveState (server hangs for good)",
     kOpen},
    {"_papplJobReleaseNoLock", U::kReplaced, "pappl/hardening.cpp", k131,
     "the hold of a Create-Job job until its document comes",
     "Release-Held-New-Jobs releases a job with no document, then reads its missing format (crash)",
     kUnchecked},
    {"_papplPrinterProcessIPP", U::kReplaced, "pappl/hardening.cpp", k131,
     "the admin checks on printer operations and the saves before an answer",
     "Disable/Enable-Printer, Hold-New-Jobs, Release-Held-New-Jobs accepted from anyone", kUnchecked},
    {"_papplSystemProcessIPP", U::kReplaced, "pappl/hardening.cpp", k131,
     "the file: scheme refusal, the admin checks and the saves before an answer",
     "Create-Printer takes any device URI (file:) and answers a driver refusal vaguely", kUnchecked},
    {"_papplJobProcessIPP", U::kReplaced, "pappl/hardening.cpp", k131, "the media hold in job answers", "",
     "-"},
    {"_papplSystemConfigChanged", U::kReplaced, "pappl/hardening.cpp", k131, "the saves before an answer",
     "configuration saved later, from the main loop, with write errors ignored", kUnchecked},
    {"_papplPrinterWebHome", U::kReplaced, "pappl/hardening.cpp", k131,
     "the login for the printer page's forms",
     "the printer page's forms (hold, release, test page) taken from anyone, over plain HTTP", kUnchecked},
    {"_papplClientRun", U::kReplaced, "pappl/hardening.cpp", k131, "the limit on connections at a time",
     "a thread per connection without limit: idle connections each hold one for a minute", kUnchecked},
    {"_papplClientIsAuthorizedForGroup", U::kReplaced, "pappl/hardening.cpp", k131,
     "the administrator check on the control socket",
     "every client of the control socket trusted: any local user adds printers", kUnchecked},
    {"papplSystemDelete", U::kWrapped, "pappl/hardening.cpp", k131,
     "the end of state saves before the system is freed",
     "the main loop frees the system while other threads may still save it (crash at stop)", kUnchecked},
    {"_papplPrinterCheckJobs", U::kCalled, "pappl/hardening.cpp", k131,
     "the start of the next job when a printer is free", "", "-"},
    {"_papplClientDelete", U::kCalled, "pappl/hardening.cpp", k131,
     "the closing of a connection over the limit", "", "-"},
    // app/pappl/jobvalues.cpp, app/pappl/jobaccess.cpp
    {"_papplClientProcessIPP", U::kReplaced, "pappl/jobvalues.cpp", k131,
     "the retyping of job options sent as names",
     "job attributes checked before any callback: a raw queue's print-darkness=100 refused", kUnchecked},
    {"_papplPrinterIsAuthorized", U::kReplaced, "pappl/jobaccess.cpp", k131,
     "the check of local job owners by their socket",
     "any local client may cancel or hold another user's job", kUnchecked},
    // app/pappl/weblabelmode.cpp, app/pappl/webselect.cpp, app/pappl/statustext.cpp
    {"_papplPrinterWebDefaults", U::kReplaced, "pappl/weblabelmode.cpp", k131,
     "the label mode row of the defaults page", "", "-"},
    {"papplClientGetForm", U::kWrapped, "pappl/weblabelmode.cpp", k131, "the noting of the posted label mode",
     "", "-"},
    {"papplPrinterSetDriverDefaults", U::kWrapped, "pappl/weblabelmode.cpp", k131,
     "the saving of the posted label mode", "", "-"},
    {"papplClientHTMLPuts", U::kWrapped, "pappl/webselect.cpp", k131,
     "the selection of the current darkness and speed",
     "darkness and speed selects select nothing for other values; saving unchanged sets darkness 0", "1.4.6"},
    {"papplClientHTMLPrintf", U::kWrapped, "pappl/webselect.cpp", k131,
     "the selection of the current darkness and speed",
     "darkness and speed selects select nothing for other values; saving unchanged sets darkness 0", "1.4.6"},
    {"papplClientGetLocString", U::kWrapped, "pappl/statustext.cpp", k131,
     "the full stops of the web status line's reasons",
     "each reason word ends with two full stops on the status line", kUnchecked},
    // app/pappl/devicestate.cpp
    {"papplDeviceOpen", U::kWrapped, "pappl/devicestate.cpp", k131,
     "the app's socket:// transport and the last device error",
     "socket writes block for good on a printer that stops reading; a stopped printer says only \"Stopped.\"",
     kUnchecked},
    {"ippAddString", U::kWrapped, "pappl/devicestate.cpp", k131, "the device error in printer-state-message",
     "a stopped printer says only \"Stopped.\"", kUnchecked},
    // app/pappl/dnssd.cpp
    {"papplDeviceList", U::kWrapped, "pappl/dnssd.cpp", k131,
     "the DNS-SD check of device lists (none without avahi)",
     "device listing returns holding the avahi poll lock when the daemon has gone (DNS-SD lock left held)",
     "1.4.3"},
    {"avahi_service_browser_new", U::kWrapped, "pappl/dnssd.cpp", k131,
     "the refusal to hand avahi a null client",
     "with no avahi daemon PAPPL hands avahi a null client, which aborts the server", kUnchecked},
    {"avahi_service_resolver_new", U::kWrapped, "pappl/dnssd.cpp", k131,
     "the refusal to hand avahi a null client",
     "with no avahi daemon PAPPL hands avahi a null client, which aborts the server", kUnchecked},
    {"avahi_record_browser_new", U::kWrapped, "pappl/dnssd.cpp", k131,
     "the refusal to hand avahi a null client",
     "with no avahi daemon PAPPL hands avahi a null client, which aborts the server", kUnchecked},
    {"avahi_client_errno", U::kWrapped, "pappl/dnssd.cpp", k131, "the refusal to hand avahi a null client",
     "with no avahi daemon PAPPL hands avahi a null client, which aborts the server", kUnchecked},
    {"avahi_client_set_host_name", U::kSupplanted, "pappl/dnssd.cpp", k131,
     "the refusal to rename the machine on mDNS",
     "papplSystemSetHostName renames the whole machine on mDNS and frees avahi's host name from another "
     "thread",
     kUnchecked},
    {"_papplDNSSDInit", U::kCalled, "pappl/dnssd.cpp", k131, "the DNS-SD checks (PAPPL's avahi client)", "",
     "-"},
    // app/pappl/statefile.cpp
    {"_papplJobSetState", U::kCalled, "pappl/statefile.cpp", k131, "the requeueing of a job printing at stop",
     "a job printing when the server stopped is loaded as printing and never printed", kUnchecked},
    // app/pappl/ctlsocket.cpp, app/pappl/optionscmd.cpp
    {"_papplMainloopGetServerPath", U::kSupplanted, "pappl/ctlsocket.cpp", k131,
     "the control socket in a private directory",
     "a non-root user's socket in /tmp, which another user can take first", kUnchecked},
    {"_papplMainloopConnect", U::kSupplanted, "pappl/ctlsocket.cpp", k131,
     "the check that sub-commands reach only their user's server",
     "falls back to root's server and starts a hidden one that keeps the caller's output open", kUnchecked},
    {"_papplMainloopShowOptions", U::kReplaced, "pappl/optionscmd.cpp", k131,
     "the listing of the printer's own options", "", "-"},
    {"_papplMainloopConnectURI", U::kCalled, "pappl/optionscmd.cpp", k131, "`options -u`", "", "-"},
    {"_papplMainloopAddPrinterURI", U::kCalled, "pappl/optionscmd.cpp", k131, "`options -d`", "", "-"},
    // app/pappl/deviceopen.cpp, app/pappl/joblimits.cpp
    {"httpAddrConnect2", U::kWrapped, "pappl/deviceopen.cpp", k131,
     "a cancel for the connect to a network printer made outside the printer's lock",
     "the socket scheme connects under the printer's write lock with a fixed 30 s limit: one switched-off "
     "printer stalls every client and the state save",
     kOpen},
    {"papplDeviceClose", U::kWrapped, "pappl/deviceopen.cpp", k131, "the end of a connection made beforehand",
     "", "-"},
    {"httpRead2", U::kWrapped, "pappl/joblimits.cpp", k131,
     "the cut-off of a client that stalls in its document (client-idle-time-out)",
     "a client sending a byte every few seconds holds its printer for as long as it likes", kUnchecked},
    // app/pappl/ippreplies.cpp
    {"_papplJobCopyStateNoLock", U::kReplaced, "pappl/ippreplies.cpp", k131,
     "job-state-reasons of a job held by job-hold-until",
     "the reasons loop stops one bit short of job-hold-until-specified: a held job's reply has no reasons",
     kUnchecked},
    {"_papplPrinterCopyAttributesNoLock", U::kReplaced, "pappl/ippreplies.cpp", k131,
     "printer-strings-languages-supported in the reply, not the printer",
     "the attribute is added to the printer's stored attributes and piles up with every request", kUnchecked},
    {"_papplJobReasonString", U::kCalled, "pappl/ippreplies.cpp", k131, "the reason keywords of a held job",
     "", "-"},
    // app/pappl/logformat.cpp
    {"papplLog", U::kWrapped, "pappl/logformat.cpp", k131, "numbers in log lines written by the program",
     "PAPPL's log formatter drops the last digit of numbers as Debian 13 builds it, and mishandles %lld and "
     "%zu",
     kUnchecked},
    {"papplLogClient", U::kWrapped, "pappl/logformat.cpp", k131, "as papplLog", "as papplLog", kUnchecked},
    {"papplLogJob", U::kWrapped, "pappl/logformat.cpp", k131, "as papplLog", "as papplLog", kUnchecked},
    {"papplLogPrinter", U::kWrapped, "pappl/logformat.cpp", k131, "as papplLog", "as papplLog", kUnchecked},
};
const size_t kDfFenceSymbolCount = sizeof(kDfFenceSymbols) / sizeof(kDfFenceSymbols[0]);

const DfFenceWorkaround kDfFenceWorkarounds[] = {
    {"`submit -n N` and `-c N` sent as copies", "core/cliargs.cpp", "submit parses -n but never sends copies",
     "1.4.4"},
    {"the stop after SIGTERM", "pappl/hardening.cpp, core/status.cpp",
     "a stop waits up to 60 s while a printer has jobs", "1.4.9"},
    {"PNG, JPEG and PDF through the app's own filter", "documents/docfilter.cpp",
     "PAPPL's PNG filter loops for ever on a truncated file", "1.4.10"},
    {"state reasons with their severity", "core/status.cpp",
     "printer-state-reasons named without severity: clients take a warning for an error", kOpen},
    {"status queries and identify only on a printer with no jobs", "core/status.cpp, core/driver.cpp",
     "the last job's device is kept open between queued jobs, its bytes not all sent; a device opened "
     "meanwhile "
     "takes its place (the bytes are lost)",
     kOpen},
};
const size_t kDfFenceWorkaroundCount = sizeof(kDfFenceWorkarounds) / sizeof(kDfFenceWorkarounds[0]);

namespace {

struct Elf32 {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
    using Sym = Elf32_Sym;
    using Rel = Elf32_Rel;
    using Rela = Elf32_Rela;
    static size_t SymIndex(Elf32_Word info) { return ELF32_R_SYM(info); }
};

struct Elf64 {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
    using Sym = Elf64_Sym;
    using Rel = Elf64_Rel;
    using Rela = Elf64_Rela;
    static size_t SymIndex(Elf64_Xword info) { return ELF64_R_SYM(info); }
};

bool InFile(const std::string& file, uint64_t offset, uint64_t size) {
    return offset <= file.size() && size <= file.size() - offset;
}

// The names of the symbols the relocation sections of FILE refer to.
template <class E>
bool RelocatedNames(const std::string& file, std::set<std::string>& names, std::string& error) {
    typename E::Ehdr eh;
    memcpy(&eh, file.data(), sizeof eh);
    if (eh.e_shentsize != sizeof(typename E::Shdr) ||
        !InFile(file, eh.e_shoff, uint64_t{eh.e_shnum} * sizeof(typename E::Shdr))) {
        error = "its section headers are damaged";
        return false;
    }
    auto section = [&](size_t i) {
        typename E::Shdr sh;
        memcpy(&sh, file.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
        return sh;
    };
    bool any = false;
    for (size_t i = 0; i < eh.e_shnum; i++) {
        const typename E::Shdr rel = section(i);
        if (rel.sh_type != SHT_RELA && rel.sh_type != SHT_REL) continue;
        const size_t entry = rel.sh_type == SHT_RELA ? sizeof(typename E::Rela) : sizeof(typename E::Rel);
        if (rel.sh_link >= eh.e_shnum) continue;
        const typename E::Shdr symtab = section(rel.sh_link);
        if (symtab.sh_link >= eh.e_shnum) continue;
        const typename E::Shdr strtab = section(symtab.sh_link);
        if (!InFile(file, rel.sh_offset, rel.sh_size) || !InFile(file, symtab.sh_offset, symtab.sh_size) ||
            !InFile(file, strtab.sh_offset, strtab.sh_size)) {
            error = "a relocation section lies outside the file";
            return false;
        }
        any = true;
        const size_t symbols = symtab.sh_size / sizeof(typename E::Sym);
        for (uint64_t at = 0; at + entry <= rel.sh_size; at += entry) {
            typename E::Rel r;  // Rela starts as Rel does
            memcpy(&r, file.data() + rel.sh_offset + at, sizeof r);
            const size_t index = E::SymIndex(r.r_info);
            if (index == 0 || index >= symbols) continue;
            typename E::Sym sym;
            memcpy(&sym, file.data() + symtab.sh_offset + index * sizeof sym, sizeof sym);
            if (sym.st_name >= strtab.sh_size) continue;
            const char* name = file.data() + strtab.sh_offset + sym.st_name;
            names.insert(std::string(name, strnlen(name, strtab.sh_size - sym.st_name)));
        }
    }
    if (!any) {
        error = "it has no relocation sections";
        return false;
    }
    return true;
}

bool ReadFile(const char* path, std::string& file, std::string& error) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = fd < 0 ? strerror(errno) : "not a regular file";
        if (fd >= 0) close(fd);
        return false;
    }
    file.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < file.size()) {
        const ssize_t n = read(fd, &file[done], file.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    file.resize(done);
    return true;
}

bool Defines(DfFenceUse use) {
    return use != DfFenceUse::kCalled;
}

bool Forwards(DfFenceUse use) {
    return use != DfFenceUse::kSupplanted;
}

}  // namespace

bool DfFenceUnrelocated(const char* path, const std::vector<std::string>& names,
                        std::vector<std::string>& direct, std::string& error) {
    direct.clear();
    std::string file;
    std::string why;
    std::set<std::string> relocated;
    bool ok = ReadFile(path, file, why);
    if (ok && (file.size() < sizeof(Elf64_Ehdr) || memcmp(file.data(), ELFMAG, SELFMAG) != 0)) {
        why = "not an ELF object";
        ok = false;
    } else if (ok && file[EI_CLASS] == ELFCLASS64) {
        ok = RelocatedNames<Elf64>(file, relocated, why);
    } else if (ok && file[EI_CLASS] == ELFCLASS32) {
        ok = RelocatedNames<Elf32>(file, relocated, why);
    } else if (ok) {
        why = "an unknown ELF class";
        ok = false;
    }
    if (!ok) {
        error = std::string("cannot read the relocations of '") + path + "': " + why;
        return false;
    }
    for (const std::string& name : names)
        if (!relocated.count(name)) direct.push_back(name);
    return true;
}

bool DfFenceCheck(std::string& error, const char* library) {
    error.clear();
    for (size_t i = 0; i < kDfFenceSymbolCount; i++) {
        const DfFenceSymbol& s = kDfFenceSymbols[i];
        if (Forwards(s.use) && !dlsym(RTLD_NEXT, s.name))
            error += std::string("PAPPL ") + kDfFencePapplVersion + "'s " + s.name +
                     " was not found: " + s.guard + " cannot work; this PAPPL cannot be used\n";
    }
    // The library that holds PAPPL's public functions is the one to read.
    Dl_info info{};
    void* pappl = dlsym(RTLD_NEXT, "papplSystemCreate");
    if (library) {
        info.dli_fname = library;
    } else if (!pappl || !dladdr(pappl, &info) || !info.dli_fname) {
        error += "libpappl was not found among the loaded libraries\n";
        return false;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < kDfFenceSymbolCount; i++)
        if (Defines(kDfFenceSymbols[i].use)) names.push_back(kDfFenceSymbols[i].name);
    std::vector<std::string> direct;
    std::string why;
    if (!DfFenceUnrelocated(info.dli_fname, names, direct, why)) {
        error += why + "\n";
        return false;
    }
    for (const std::string& name : direct)
        for (size_t i = 0; i < kDfFenceSymbolCount; i++)
            if (name == kDfFenceSymbols[i].name)
                error += "libpappl calls " + name + " directly (no dynamic relocation in " + info.dli_fname +
                         "): " + kDfFenceSymbols[i].guard +
                         " would be skipped; this PAPPL build cannot be used\n";
    return error.empty();
}

bool DfFenceCheckAtStart() {
    std::string error;
    if (DfFenceCheck(error)) return true;
    size_t at = 0;
    for (size_t end; (end = error.find('\n', at)) != std::string::npos; at = end + 1)
        fprintf(stderr, "dotforge-app: %s\n", error.substr(at, end - at).c_str());
    fprintf(stderr,
            "dotforge-app: not started: it was written for PAPPL %s with its internals called through "
            "the PLT (app/pappl/pappl_fence.cpp).\n",
            kDfFencePapplVersion);
    return false;
}

void* DfFenceNext(const char* name) {
    void* next = dlsym(RTLD_NEXT, name);
    if (!next) {
        // The start check makes this unreachable; a null is never called.
        fprintf(stderr, "dotforge-app: PAPPL's %s was not found; stopping.\n", name);
        _exit(70);
    }
    return next;
}
