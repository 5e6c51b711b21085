// The dotforge-preview command: pictures written as PNG files that read back
// as the pages sent, the listing on standard output, and damaged streams
// reported on standard error with their offset and exit status 1, with the
// pages before the fault still written; the virtual printer on a socket.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "helpers/raster.h"
#include "base/sink.h"
#include "helpers/scriptlink.h"
#include "printers/cat_talk.h"
#include "printers/catprinter.h"
#include "printers/niimbot.h"
#include "printers/niimbot_talk.h"
#include "printers/status.h"
#include "printers/tspl.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Runs the built tool with args, feeding stdinBytes on standard input.
ToolRun RunPreview(const std::vector<std::string>& args, const ByteVec& stdinBytes = ByteVec()) {
    ToolRun run;
    const std::string in = TempPath("preview-in"), out = TempPath("preview-out"),
                      err = TempPath("preview-err");
    {
        std::ofstream f(in, std::ios::binary);
        f.write((const char*)stdinBytes.data(), (std::streamsize)stdinBytes.size());
    }
    pid_t pid = fork();
    if (pid == 0) {
        int fi = open(in.c_str(), O_RDONLY), fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
            fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fi < 0 || fo < 0 || fe < 0) _exit(126);
        dup2(fi, 0);
        dup2(fo, 1);
        dup2(fe, 2);
        std::vector<char*> argv{const_cast<char*>(DF_PREVIEW_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    unlink(in.c_str());
    unlink(out.c_str());
    unlink(err.c_str());
    return run;
}

std::string WriteTemp(const ByteVec& bytes) {
    std::string path = TempPath("preview-job");
    std::ofstream f(path, std::ios::binary);
    f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    return path;
}

// A PNG read back as one byte per dot, 1 = black.
struct Png {
    int w = 0, h = 0;
    std::vector<uint8_t> black;
};

bool ReadPng(const std::string& path, Png* png) {
    png_image img;
    memset(&img, 0, sizeof(img));
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> grey(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, grey.data(), 0, nullptr)) return false;
    png->w = (int)img.width;
    png->h = (int)img.height;
    png->black.resize(grey.size());
    for (size_t i = 0; i < grey.size(); i++) png->black[i] = grey[i] < 128;
    return true;
}

// The Paperang protocol's example page: one row of 64 dots,
// 00 00 00 FF 0F 00 00 00.
const ByteVec kPaperangPage = Bytes({
    0xA5, 0x01, 0x05, 0x00, 0x05, 0x19, 0x03, 0x00, 0x00, 0x57, 0x1F, 0xE7, 0xA5, 0x5A, 0xA5, 0x01,
    0x19, 0x00, 0x05, 0x1C, 0x03, 0x14, 0x00, 0x01, 0x01, 0x00, 0x01, 0x0F, 0x00, 0xFF, 0x00, 0x00,
    0x00, 0x0F, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x01, 0x01, 0x00, 0x00, 0x6A, 0x81, 0x8F, 0x30, 0x5A,
    0xA5, 0x01, 0x14, 0x00, 0x05, 0x1B, 0x03, 0x0F, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x01, 0x08, 0x00,
    0x00, 0x00, 0x01, 0x03, 0x00, 0x06, 0xE9, 0xC0, 0x2D, 0x10, 0xDD, 0xDA, 0x5A, 0xA5, 0x01, 0x05,
    0x00, 0x05, 0x1A, 0x03, 0x00, 0x00, 0xB9, 0xB0, 0x52, 0xB7, 0x5A,
});
const size_t kTreeFrame = 14, kBitmapFrame = 48, kEndFrame = 77;

void ExpectExamplePng(const std::string& path) {
    Png png;
    ASSERT_TRUE(ReadPng(path, &png)) << path;
    ASSERT_EQ(png.w, 64);
    ASSERT_EQ(png.h, 1);
    const uint8_t row[8] = {0x00, 0x00, 0x00, 0xFF, 0x0F, 0x00, 0x00, 0x00};
    for (int x = 0; x < 64; x++) EXPECT_EQ(png.black[x], (row[x / 8] >> (7 - x % 8)) & 1) << "dot " << x;
}

TEST(PreviewCli, WritesOnePngPerPageAndListsTheCommands) {
    ByteVec job = kPaperangPage;
    job.insert(job.end(), kPaperangPage.begin(), kPaperangPage.end());
    const std::string file = WriteTemp(job), prefix = TempPath("pages");
    ToolRun r = RunPreview({"-o", prefix, file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Paperang stream, 182 bytes (detected)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      48  frame 0x1B bitmap chunk 0, 3 bytes, CRC ok (Huffman, 1 row)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("page 2: 64 x 1 dots -> " + prefix + "-2.png"), std::string::npos) << r.out;
    ExpectExamplePng(prefix + "-1.png");
    ExpectExamplePng(prefix + "-2.png");
    EXPECT_FALSE(Exists(prefix + "-3.png"));
    unlink(file.c_str());
    unlink((prefix + "-1.png").c_str());
    unlink((prefix + "-2.png").c_str());
}

TEST(PreviewCli, RendererPagesFromStandardInputReadBackExactly) {
    // Widths that leave byte and row padding; the PNG has the label's width.
    Captured<CPrinterTSPL> r;
    r.m_iDpi = 203;
    r.m_halftone.ImageCompress = true;
    std::vector<std::vector<uint8_t>> pics;
    const int sizes[][2] = {{401, 37}, {9, 3}};
    std::mt19937 rng(7);
    for (const auto& s : sizes) {
        ASSERT_NE(r.m_image.Create(s[0], s[1], 1, 0), nullptr);
        r.m_image.SetGrayPalette();
        std::vector<uint8_t> pic((size_t)s[0] * s[1]);
        for (int y = 0; y < s[1]; y++) {
            uint8_t* row = r.m_image.GetBits(y);
            memset(row, 0xFF, r.m_image.GetEffWidth());
            for (int x = 0; x < s[0]; x++)
                if ((pic[(size_t)y * s[0] + x] = rng() % 2)) row[x / 8] &= (uint8_t) ~(0x80 >> (x % 8));
        }
        pics.push_back(pic);
        r.OnPaintBmp();
    }
    const std::string prefix = TempPath("tspl");
    ToolRun run = RunPreview({"--model", "20", "-o", prefix}, r.out);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("TSPL stream"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(as told)"), std::string::npos) << run.out;
    for (size_t i = 0; i < pics.size(); i++) {
        std::string path = prefix + "-" + std::to_string(i + 1) + ".png";
        Png png;
        ASSERT_TRUE(ReadPng(path, &png)) << path;
        EXPECT_EQ(png.w, sizes[i][0]);
        EXPECT_EQ(png.h, sizes[i][1]);
        EXPECT_TRUE(png.black == pics[i]) << "page " << i + 1 << " differs";
        unlink(path.c_str());
    }
}

TEST(PreviewCli, DamagedStreamsReportOffsetAndKeepEarlierPages) {
    struct Case {
        const char* name;
        std::function<void(ByteVec&)> damage;  // applied to page 2 of a two-page job
        size_t offset;
        const char* reason;
        int pages;  // written: page 1, and page 2 unfinished when its rows arrived
    };
    const size_t p2 = kPaperangPage.size();
    const Case cases[] = {
        {"flipped CRC byte", [&](ByteVec& s) { s[p2 + kBitmapFrame + 4 + 20 + 2] ^= 0x10; },
         p2 + kBitmapFrame + 24, "bad CRC: the frame says DACD102D, its 20-byte record gives DADD102D", 1},
        {"truncated frame", [&](ByteVec& s) { s.resize(p2 + kTreeFrame + 20); }, p2 + kTreeFrame + 2,
         "frame length 25 runs past the end of the stream: the frame needs 34 bytes, 20 are left", 1},
        {"length field past the end", [&](ByteVec& s) { s[p2 + kEndFrame + 2] = 0x40; }, p2 + kEndFrame + 2,
         "frame length 64 runs past the end of the stream", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteVec job = kPaperangPage;
        job.insert(job.end(), kPaperangPage.begin(), kPaperangPage.end());
        c.damage(job);
        const std::string file = WriteTemp(job), prefix = TempPath("damaged");
        ToolRun r = RunPreview({file, "-o", prefix});
        EXPECT_EQ(r.status, 1);
        const std::string where = file + ": offset " + std::to_string(c.offset) + " (0x";
        EXPECT_NE(r.err.find(where), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.pages == 1 ? "the 1 page decoded before the fault has been written"
                                          : "the 2 pages decoded before the fault have been written"),
                  std::string::npos)
            << r.err;
        ExpectExamplePng(prefix + "-1.png");
        if (c.pages == 2) {
            ExpectExamplePng(prefix + "-2.png");
            EXPECT_NE(r.out.find("page 2: 64 x 1 dots -> " + prefix + "-2.png (unfinished)"),
                      std::string::npos)
                << r.out;
        }
        EXPECT_EQ(Exists(prefix + "-2.png"), c.pages == 2);
        EXPECT_FALSE(Exists(prefix + "-3.png"));
        unlink(file.c_str());
        unlink((prefix + "-1.png").c_str());
        unlink((prefix + "-2.png").c_str());
    }
}

TEST(PreviewCli, BadInputAndArguments) {
    struct Case {
        std::vector<std::string> args;
        ByteVec input;
        int status;
        const char* message;
    } cases[] = {
        {{},
         Bytes("hello"),
         1,
         "cannot tell the printer family from the first bytes (68 65 6C 6C 6F); name it with --model"},
        {{}, ByteVec(), 1, "the stream is empty"},
        {{"--model", "21"},
         Bytes({0x1B, 0x40, 0x00, 0x1B, 0x07}),
         1,
         "offset 3 (0x3): unknown command 1B 07"},
        {{"--model", "99"}, ByteVec(), 2, "unknown model \"99\""},
        {{"--frobnicate"}, ByteVec(), 2, "unknown option --frobnicate"},
        {{"-o"}, ByteVec(), 2, "-o needs a value"},
        {{"/nonexistent/job.bin"}, ByteVec(), 1, "/nonexistent/job.bin: No such file or directory"},
        {{"--pty", "--status", "paperout"}, ByteVec(), 2, "unknown status word \"paperout\""},
        {{"--pty", "--status", "battery=101"}, ByteVec(), 2, "unknown status word \"battery=101\""},
        {{"--pty", "--jobs", "0"}, ByteVec(), 2, "--jobs needs a number of jobs"},
        {{"--status", "ready"}, ByteVec(), 2, "the virtual printer needs --listen or --pty"},
        {{"--pty", "job.bin"}, ByteVec(), 2, "the virtual printer reads no file"},
        {{"--listen", "127.0.0.1:port"}, ByteVec(), 1, "cannot listen on \"127.0.0.1:port\""},
        {{"--max-job", "1"},
         ByteVec((1u << 20) + 1, 0x0A),
         1,
         "standard input is larger than 1 MiB (--max-job"},
        {{"--max-job", "0"}, ByteVec(), 2, "--max-job needs a size in MiB"},
        {{"--pty", "--idle-timeout", "x"}, ByteVec(), 2, "--idle-timeout needs a number of seconds"},
        {{"--pty", "--pty-owner", "no-such-user-df"}, ByteVec(), 2, "unknown user \"no-such-user-df\""},
        {{"--pty", "--pty-owner", "root:no-such-group-df"},
         ByteVec(),
         2,
         "unknown group \"no-such-group-df\""},
        {{"--listen", "0", "--pty-owner", "root"}, ByteVec(), 2, "--pty-owner goes with --pty"},
    };
    for (const Case& c : cases) {
        ToolRun r = RunPreview(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace

namespace {

// A receipt narrower than the head is drawn centred on a head-wide page when
// the model tells the head's width.
TEST(PreviewCli, HeadWidthFromTheModel) {
    const ByteVec receipt = {0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01, 0x1D, 0x76, 0x30,
                             0x00, 0x02, 0x00, 0x02, 0x00, 0xFF, 0x00, 0x80, 0x01};
    const std::string file = WriteTemp(receipt), prefix = TempPath("head");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* expect;  // in standard output, or in standard error for a usage error
    };
    const Case cases[] = {
        {{"--model", "escpos-58"}, 0, "page 1: 384 x 2 dots"},
        {{"--model=escpos-80"}, 0, "page 1: 576 x 2 dots"},
        {{"--model", "21"}, 0, "page 1: 16 x 2 dots"},
        {{"--model", "21", "--head", "100"}, 0, "page 1: 100 x 2 dots"},
        {{}, 0, "page 1: 16 x 2 dots"},
        {{"--head", "wide"}, 2, "--head needs a width in dots (1 to 65535)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", prefix, file});
        ToolRun r = RunPreview(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((c.status ? r.err : r.out).find(c.expect), std::string::npos) << r.out << r.err;
    }
}

}  // namespace

namespace {

// The virtual printer, running in the background with its output on a pipe.
struct VirtualPrinterProcess {
    pid_t pid = -1;
    FILE* out = nullptr;
    std::string first;  // its first line: where it listens
    explicit VirtualPrinterProcess(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds)) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            std::vector<char*> argv{const_cast<char*>(DF_PREVIEW_PATH)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fdopen(fds[0], "r");
        char line[256];
        if (out && fgets(line, sizeof(line), out)) first = line;
    }
    // Waits up to five seconds for it to end by itself; its exit status.
    int Wait(std::string* rest) {
        for (int i = 0; i < 500; i++) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                char buf[4096];
                size_t n;
                while ((n = fread(buf, 1, sizeof(buf), out)) > 0) rest->append(buf, n);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10000);
        }
        return -1;
    }
    ~VirtualPrinterProcess() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out) fclose(out);
    }
};

// Reads until want bytes came, for at most a second (a fifth for none).
ByteVec ReadSome(int fd, size_t want) {
    ByteVec got;
    for (int i = 0; i < (want ? 100 : 20) && (!want || got.size() < want); i++) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        uint8_t b[64];
        const ssize_t n = read(fd, b, sizeof(b));
        if (n <= 0) break;
        got.insert(got.end(), b, b + n);
    }
    return got;
}

// True when the peer closed fd within ms milliseconds.
bool ClosedWithin(int fd, int ms) {
    for (int waited = 0; waited <= ms; waited += 10) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        uint8_t b[64];
        const ssize_t n = recv(fd, b, sizeof(b), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
    return false;
}

const ByteVec kReceipt = {0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00, 0xFF, 0x81};

TEST(VirtualPrinter, SocketQueriesApartFromJobsAndStopOnSigterm) {
    const std::string prefix = TempPath("vp-net");
    const std::string statusFile = TempPath("vp-status");
    {
        std::ofstream f(statusFile);
        f << "cover-open\n";
    }
    VirtualPrinterProcess vp({"--listen", "127.0.0.1:0", "--status-file", statusFile, "-o", prefix});
    int port = 0;
    ASSERT_EQ(sscanf(vp.first.c_str(), "listening on 127.0.0.1 port %d", &port), 1) << vp.first;
    auto connectTo = [port]() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? s : -1;
    };
    // A query alone on a connection, with the status file changed between.
    const struct {
        ByteVec query;
        const char* status;
        ByteVec answer;
    } cases[] = {
        {{0x1B, 0x21, 0x3F}, nullptr, {0x01}}, {{0x1B, 0x21, 0x3F}, "ready", {0x00}},
        {{0x1B, 0x68}, "paper-out", {0x02}},   {{0x10, 0xFF, 0x50, 0xF1}, "battery=7", {0x00, 0x07}},
        {{0x10, 0xFF, 0x40}, "silent", {}},
    };
    for (const auto& c : cases) {
        if (c.status) {
            std::ofstream f(statusFile);
            f << c.status << "\n";
        }
        const int s = connectTo();
        ASSERT_GE(s, 0);
        ASSERT_EQ(write(s, c.query.data(), c.query.size()), (ssize_t)c.query.size());
        EXPECT_EQ(ReadSome(s, c.answer.size()), c.answer) << (c.status ? c.status : "");
        close(s);
    }
    // Queries before the job's first byte are answered and kept out of it.
    const int s = connectTo();
    ASSERT_GE(s, 0);
    ByteVec job = {0x10, 0x04, 0x01};
    job.insert(job.end(), kReceipt.begin(), kReceipt.end());
    ASSERT_EQ(write(s, job.data(), job.size()), (ssize_t)job.size());
    close(s);
    usleep(300000);
    kill(vp.pid, SIGTERM);
    std::string rest;
    EXPECT_EQ(vp.Wait(&rest), 0);
    EXPECT_NE(rest.find("job 1: ESC/POS, 12 bytes"), std::string::npos) << rest;
    EXPECT_EQ(rest.find("job 2"), std::string::npos) << rest;  // the queries made no job
    EXPECT_EQ(ReadFile(prefix + "-1.prn"), std::string(kReceipt.begin(), kReceipt.end()));
    unlink((prefix + "-1.prn").c_str());
    unlink((prefix + "-1-1.png").c_str());
    unlink(statusFile.c_str());
}

// A renderer's whole job (one page of w x h dots, a diagonal line).
template <class R>
ByteVec DiagonalJob(int w, int h, const std::function<void(Captured<R>&)>& setup) {
    Captured<R> r;
    r.m_iDpi = 203;
    setup(r);
    r.OnStartDoc(0);
    FillPreparedPage(r.m_image, w, h, 1, [](unsigned) { return true; });
    for (int y = 0; y < h; y++)
        r.m_image.GetBits(y)[(y % w) / 8] &= static_cast<uint8_t>(~(0x80 >> ((y % w) % 8)));
    r.OnPaintBmp();
    r.OnEndDoc();
    return r.out;
}

// The printers that answer back: the talk sinks against the virtual
// printer's Niimbot and cat printers, each on a connection of its own, with
// the status of the moment; the pages it prints, and those it refuses.
TEST(VirtualPrinter, NiimbotAndCatConversations) {
    const std::string prefix = TempPath("vp-talk");
    const std::string statusFile = TempPath("vp-talk-status");
    VirtualPrinterProcess vp({"--listen", "127.0.0.1:0", "--status-file", statusFile, "-o", prefix});
    int port = 0;
    ASSERT_EQ(sscanf(vp.first.c_str(), "listening on 127.0.0.1 port %d", &port), 1) << vp.first;
    const ByteVec niimbot =
        DiagonalJob<CPrinterNiimbot>(200, 120, [](Captured<CPrinterNiimbot>& r) { r.SetHead(384); });
    const ByteVec cat = DiagonalJob<CPrinterCat>(384, 100, [](Captured<CPrinterCat>&) {});
    struct Case {
        const char* name;
        const char* status;
        bool isCat;
        const char* why;  // nullptr: printed
    } cases[] = {
        {"Niimbot, ready", "ready", false, nullptr},
        {"Niimbot, lid open", "cover-open", false, "printer reported a print error: cover open"},
        {"Niimbot, no paper", "paper-out", false, "printer reported a print error: no paper"},
        {"cat, pausing the sender twice", "flow-pause", true, nullptr},
        {"cat, cover open", "cover-open", true, "printer reports cover open"},
    };
    int printed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::ofstream f(statusFile);
            f << c.status << "\n";
        }
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        FdLink link(s);
        std::string why;
        std::unique_ptr<DfSink> sink = c.isCat ? DfCatTalk(link, &why) : DfNiimbotTalk(link, &why);
        const ByteVec& job = c.isCat ? cat : niimbot;
        // Written as a renderer's pages come, a few rows at a time, so that
        // the printer can pause the sender while there is more to send.
        bool ok = true;
        for (size_t at = 0; ok && at < job.size(); at += 500) {
            ok = sink->Write(job.data() + at, std::min<size_t>(500, job.size() - at));
            usleep(10000);
        }
        close(s);
        if (c.why) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(why, c.why);
        } else {
            EXPECT_TRUE(ok) << why;
            printed++;
        }
    }
    // The status check of a Niimbot with a tagged roll, on a connection of
    // its own: no job.
    {
        std::ofstream f(statusFile);
        f << "rfid battery=50\n";
    }
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    DfPrinterStatus st;
    for (const DfStatusStep& step : DfNiimbotStatusSteps()) {
        ASSERT_EQ(write(s, step.query.data(), step.query.size()), (ssize_t)step.query.size());
        ByteVec got;
        DfReply r = DfReply::Incomplete;
        for (int i = 0; i < 100 && r == DfReply::Incomplete; i++) {
            const ByteVec more = ReadSome(s, 1);
            got.insert(got.end(), more.begin(), more.end());
            r = step.parse(got.data(), got.size(), false, &st);
        }
        EXPECT_EQ(r, DfReply::Done) << step.name;
    }
    close(s);
    EXPECT_EQ(st.model, "Niimbot B1");
    EXPECT_EQ(st.battery, 50);
    EXPECT_EQ(st.labelType, "gap labels");
    EXPECT_EQ(st.labelsTotal, 180);
    EXPECT_EQ(st.labelsUsed, 20);
    EXPECT_EQ(st.conditions, 0u);

    usleep(300000);
    kill(vp.pid, SIGTERM);
    std::string rest;
    vp.Wait(&rest);
    // The refused jobs were decoded too, as far as they came.
    EXPECT_NE(rest.find("job 1: Niimbot"), std::string::npos) << rest;
    EXPECT_NE(rest.find("job 1 page 1: 384 x 120 dots"), std::string::npos) << rest;
    EXPECT_NE(rest.find("job 4 page 1: 384 x 100 dots"), std::string::npos) << rest;
    // Rows in flight when the pause came (at most one chunk of the sender)
    // may still arrive in a later read; the sender stops before the next.
    const size_t at = rest.find("job 4: paused the sender 2 times, ");
    int inFlight = -1;
    ASSERT_NE(at, std::string::npos) << rest;
    EXPECT_EQ(sscanf(rest.c_str() + at, "job 4: paused the sender 2 times, %d rows", &inFlight), 1);
    EXPECT_LE(inFlight, 4) << rest;
    // Neither the cat job stopped at its state query nor the status check
    // made a job.
    EXPECT_EQ(rest.find("job 5"), std::string::npos) << rest;
    EXPECT_EQ(printed, 2);
    for (int j = 1; j <= 5; j++) {
        unlink((prefix + "-" + std::to_string(j) + ".prn").c_str());
        unlink((prefix + "-" + std::to_string(j) + "-1.png").c_str());
    }
    unlink(statusFile.c_str());
}

// Nobody can exhaust the virtual printer: a ninth connection is closed at
// once, silent ones after --idle-timeout, a job larger than --max-job is
// refused with its connection; a job after them prints as ever.
TEST(VirtualPrinter, BoundsConnectionsSilenceAndJobSize) {
    const std::string prefix = TempPath("vp-limits");
    VirtualPrinterProcess vp(
        {"--listen", "127.0.0.1:0", "--idle-timeout", "1", "--max-job", "1", "-o", prefix});
    int port = 0;
    ASSERT_EQ(sscanf(vp.first.c_str(), "listening on 127.0.0.1 port %d", &port), 1) << vp.first;
    auto connectTo = [port]() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? s : -1;
    };
    std::vector<int> idle;
    for (int i = 0; i < 9; i++) idle.push_back(connectTo());
    ASSERT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
    int closedAtOnce = 0;
    for (int fd : idle) closedAtOnce += ClosedWithin(fd, 50);
    EXPECT_EQ(closedAtOnce, 1);
    int closedLater = 0;
    for (int fd : idle) closedLater += ClosedWithin(fd, 2500);
    EXPECT_EQ(closedLater, 9);
    for (int fd : idle) close(fd);

    // 2 MiB with a limit of 1 MiB: the connection is closed part way.
    const int big = connectTo();
    ASSERT_GE(big, 0);
    ByteVec job(2u << 20, 0x0A);
    job[0] = 0x1B;
    job[1] = 0x40;
    size_t sent = 0;
    while (sent < job.size()) {
        const ssize_t n = send(big, job.data() + sent, job.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    EXPECT_TRUE(sent < job.size() || ClosedWithin(big, 1000));
    close(big);

    const int s = connectTo();
    ASSERT_GE(s, 0);
    ASSERT_EQ(write(s, kReceipt.data(), kReceipt.size()), (ssize_t)kReceipt.size());
    close(s);
    usleep(300000);
    kill(vp.pid, SIGTERM);
    std::string rest;
    EXPECT_EQ(vp.Wait(&rest), 1);  // a job was refused
    EXPECT_NE(rest.find("job 1: refused, larger than 1048576 bytes"), std::string::npos) << rest;
    EXPECT_NE(rest.find("job 2: ESC/POS, 12 bytes, 1 page"), std::string::npos) << rest;
    EXPECT_FALSE(Exists(prefix + "-1.prn"));
    unlink((prefix + "-2.prn").c_str());
    unlink((prefix + "-2-1.png").c_str());
}

// --pty-owner hands the pty to the service's user and group, mode 0660; only
// root may, anyone else is told the command that does it.
TEST(VirtualPrinter, PtyOwnerLetsAServiceUserOpenIt) {
    const passwd* nobody = getpwnam("nobody");
    const group* dialout = getgrnam("dialout");
    if (!nobody || !dialout) GTEST_SKIP() << "no user nobody or group dialout here";
    VirtualPrinterProcess vp({"--pty", "--pty-owner", "nobody:dialout", "-o", TempPath("vp-pty")});
    if (geteuid() != 0) {
        std::string rest;
        EXPECT_EQ(vp.Wait(&rest), 1);
        return;
    }
    char path[64] = "";
    ASSERT_EQ(sscanf(vp.first.c_str(), "pty %63s", path), 1) << vp.first;
    struct stat st;
    ASSERT_EQ(stat(path, &st), 0) << path;
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, dialout->gr_gid);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    kill(vp.pid, SIGTERM);
    std::string rest;
    EXPECT_EQ(vp.Wait(&rest), 0);
}

}  // namespace
