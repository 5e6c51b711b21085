// PAPPL's four log functions, with the numbers of the message written here.
//
// PAPPL 1.3.1 bug as Debian 13 builds it: its own formatter for log lines
// drops the last character of every number ("port 1863" for 18631, "Test
// page 79x119 dots at 20 dpi" for 799x1198 at 203, nothing for 0), while
// strings come out whole; the same PAPPL on Debian 12 is right. As in
// app/pappl/hardening.cpp, these definitions come before libpappl's in symbol
// lookup, for the program's calls and PAPPL's own: numbers and characters
// are written into the format here (with snprintf), and PAPPL's function
// gets the strings' %s conversions with their arguments, so it escapes
// quotes and control characters in them as it always has. Nothing here may
// take a PAPPL lock (PAPPL logs while holding them).
#include <pappl/pappl.h>

#include <dlfcn.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// More %s conversions in one message than PAPPL (or the program) uses.
constexpr int kMaxStrings = 16;

struct Prepared {
    std::string format;
    const char* strings[kMaxStrings] = {};
    int count = 0;
};

void AppendLiteral(std::string& out, const char* text) {
    for (; *text; text++) {
        if (*text == '%') out += '%';
        out += *text;
    }
}

// One conversion of the argument: DIRECTIVE is its flags, width and precision.
template <typename V>
void AppendNumber(std::string& out, const std::string& directive, char conv, V value) {
    char text[128];
    snprintf(text, sizeof(text), (directive + conv).c_str(), value);
    AppendLiteral(out, text);
}

// FORMAT with everything but its strings written out ('%' doubled).
void Prepare(const char* format, va_list ap, Prepared& out) {
    for (const char* p = format; *p;) {
        if (*p != '%') {
            out.format += *p++;
            continue;
        }
        if (p[1] == '%') {
            out.format += "%%";
            p += 2;
            continue;
        }
        std::string directive = "%";
        const char* q = p + 1;
        while (*q && strchr("-+ #0", *q)) directive += *q++;
        auto count = [&]() {
            if (*q == '*') {
                directive += std::to_string(va_arg(ap, int));
                q++;
            } else {
                while (*q >= '0' && *q <= '9') directive += *q++;
            }
        };
        count();
        if (*q == '.') {
            directive += *q++;
            count();
        }
        std::string length;
        while (*q && strchr("hlLqjzt", *q)) length += *q++;
        const char conv = *q;
        if (conv) q++;
        const bool l = length == "l", ll = length == "ll" || length == "q";
        switch (conv) {
            case 's':
                if (out.count < kMaxStrings) {
                    out.strings[out.count++] = va_arg(ap, const char*);
                    out.format += directive + 's';
                } else {
                    const char* s = va_arg(ap, const char*);
                    AppendLiteral(out.format, s ? s : "(null)");
                }
                break;
            case 'c':
                AppendNumber(out.format, directive, 'c', va_arg(ap, int));
                break;
            case 'd':
            case 'i':
                if (ll)
                    AppendNumber(out.format, directive + "ll", conv, va_arg(ap, long long));
                else if (l)
                    AppendNumber(out.format, directive + "l", conv, va_arg(ap, long));
                else if (length == "z" || length == "t")
                    AppendNumber(out.format, directive + "t", conv, va_arg(ap, ptrdiff_t));
                else if (length == "j")
                    AppendNumber(out.format, directive + "j", conv, va_arg(ap, intmax_t));
                else
                    AppendNumber(out.format, directive, conv, va_arg(ap, int));
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                if (ll)
                    AppendNumber(out.format, directive + "ll", conv, va_arg(ap, unsigned long long));
                else if (l)
                    AppendNumber(out.format, directive + "l", conv, va_arg(ap, unsigned long));
                else if (length == "z" || length == "t")
                    AppendNumber(out.format, directive + "z", conv, va_arg(ap, size_t));
                else if (length == "j")
                    AppendNumber(out.format, directive + "j", conv, va_arg(ap, uintmax_t));
                else
                    AppendNumber(out.format, directive, conv, va_arg(ap, unsigned));
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (length == "L")
                    AppendNumber(out.format, directive + "L", conv, va_arg(ap, long double));
                else
                    AppendNumber(out.format, directive, conv, va_arg(ap, double));
                break;
            case 'p':
                AppendNumber(out.format, directive, 'p', va_arg(ap, void*));
                break;
            default:  // not a conversion: as written
                AppendLiteral(out.format, std::string(p, q).c_str());
                break;
        }
        p = q;
    }
}

template <typename T>
using LogFn = void (*)(T*, pappl_loglevel_t, const char*, ...);

template <typename T>
LogFn<T> Real(const char* name) {
    return reinterpret_cast<LogFn<T>>(dlsym(RTLD_NEXT, name));
}

template <typename T>
void Forward(LogFn<T> real, T* object, pappl_loglevel_t level, const char* message, va_list ap) {
    if (!real) return;
    Prepared m;
    Prepare(message ? message : "", ap, m);
    const char* const* s = m.strings;
    real(object, level, m.format.c_str(), s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10],
         s[11], s[12], s[13], s[14], s[15]);
}

}  // namespace

extern "C" {

void papplLog(pappl_system_t* system, pappl_loglevel_t level, const char* message, ...) {
    static const auto real = Real<pappl_system_t>("papplLog");
    va_list ap;
    va_start(ap, message);
    Forward(real, system, level, message, ap);
    va_end(ap);
}

void papplLogClient(pappl_client_t* client, pappl_loglevel_t level, const char* message, ...) {
    static const auto real = Real<pappl_client_t>("papplLogClient");
    va_list ap;
    va_start(ap, message);
    Forward(real, client, level, message, ap);
    va_end(ap);
}

void papplLogJob(pappl_job_t* job, pappl_loglevel_t level, const char* message, ...) {
    static const auto real = Real<pappl_job_t>("papplLogJob");
    va_list ap;
    va_start(ap, message);
    Forward(real, job, level, message, ap);
    va_end(ap);
}

void papplLogPrinter(pappl_printer_t* printer, pappl_loglevel_t level, const char* message, ...) {
    static const auto real = Real<pappl_printer_t>("papplLogPrinter");
    va_list ap;
    va_start(ap, message);
    Forward(real, printer, level, message, ap);
    va_end(ap);
}

}  // extern "C"
