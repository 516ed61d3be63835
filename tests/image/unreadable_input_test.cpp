// What a name can stand for besides a good file: a FIFO, a device, a
// folder, a file that fails on reading, a file that shrinks while it is
// read in place. Every one gives a reason; none hangs or ends the process.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <csignal>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/byte_source.h"
#include "image/image_fixtures.h"
#include "image/tiff_view.h"
#include "measure/patch_measurement.h"
#include "support/temp_folder.h"
#include "util/input_file.h"
#include "util/mapped_file.h"

namespace calivant {
namespace {

TEST(UnreadableInput, OnlyRegularFilesOpenAndReadErrorsAreNamed) {
    testing::TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    testing::writeFile(folder / "empty", "");
    testing::writeFile(folder / "file", "bytes");
    const std::pair<std::string, std::string> cases[] = {
        {(folder / "fifo").string(), kNotRegularFile},
        {folder.path().string(), kNotRegularFile},
        {"/dev/zero", kNotRegularFile},
        {(folder / "missing").string(), "no such file or directory"},
        {"/proc/self/mem", "input/output error"},
        {(folder / "empty").string(), ""},
        {(folder / "file").string(), ""},
    };
    for (const auto& [path, problem] : cases) {
        InputFile input;
        EXPECT_EQ(input.open(path), problem.empty() ? 0 : 1) << path;
        EXPECT_EQ(input.problem(), problem) << path;
        FileByteSource source;
        EXPECT_EQ(source.open(path), problem.empty() ? 0 : 1) << path;
        EXPECT_EQ(source.problem(), problem) << path;
        MappedFile mapped;
        EXPECT_EQ(mapped.open(path), path.ends_with("file") ? 0 : 1) << path;
    }
    // A stream over a file that fails reads as ended, and says why.
    ASSERT_EQ(::access("/proc/self/mem", R_OK), 0);
    const int fd = ::open("/proc/self/mem", O_RDONLY);
    InputFileBuffer buffer(fd);
    EXPECT_EQ(buffer.sgetc(), std::char_traits<char>::eof());
    EXPECT_EQ(systemErrorText(buffer.error()), "input/output error");
    ::close(fd);

    // A file that shrinks between the open and the read.
    FileByteSource source;
    ASSERT_EQ(source.open(folder / "file"), 0);
    ASSERT_EQ(::truncate((folder / "file").c_str(), 2), 0);
    std::uint8_t bytes[5];
    EXPECT_EQ(source.readAt(0, bytes, 5), 2u);
    EXPECT_EQ(source.readProblem(), kFileChanged);
}

// The picture read in place, with a hook that cuts the file short when the
// chosen pixel is asked for: what follows reads as zeros, the view says the
// file changed, and the process lives on.
class TruncatingPixels : public PixelSource {
public:
    TruncatingPixels(const TiffView& view, std::string path, int cutAt)
        : view_(view), path_(std::move(path)), cutAt_(cutAt) {
        format_ = view.format();
        width_ = view.width();
        height_ = view.height();
    }
    PixelRgb pixel(std::int32_t x, std::int32_t y) const override {
        if (++reads_ == cutAt_) {
            EXPECT_EQ(::truncate(path_.c_str(), 8), 0);
        }
        return view_.pixel(x, y);
    }
    bool changedWhileRead() const override { return view_.changedWhileRead(); }

private:
    const TiffView& view_;
    std::string path_;
    int cutAt_;
    mutable std::atomic<int> reads_{0};
};

TEST(UnreadableInput, AFileCutShortWhileMappedReadsAsChangedNotAsASignal) {
    testing::TempFolder folder;
    const std::string path = (folder / "scan.tif").string();
    for (const int cutAt : {1, 5000, 30000}) {
        testing::writeFile(path, testing::writeWithLibtiff(testing::makePicture(400, 300, 3, 16), {.rowsPerStrip = 16}));
        TiffView view;
        ASSERT_EQ(view.open(path), 0);
        EXPECT_FALSE(view.changedWhileRead());
        const TruncatingPixels pixels(view, path, cutAt);
        const TargetLayout layout = makeTargetLayout(1);
        ReferenceData reference;
        reference.grayCount = layout.grayCount;
        reference.colorCount = layout.colorCount;
        OverlayQuad quad;
        resetOverlayQuad(quad, view.width(), view.height());
        const TargetMeasurement m = measureTarget(pixels, layout, quad, reference, AdvancedOptions{}, MeasureMode::Report);
        EXPECT_TRUE(m.measured);
        EXPECT_TRUE(pixels.changedWhileRead()) << cutAt;
        // Whatever lay beyond the cut reads as zeros.
        EXPECT_EQ(view.pixel(399, 0), (PixelRgb{0, 0, 0}));
    }
}

// A fault outside the watched mappings keeps its usual effect: the handler
// that was there before is called, or the process ends by the signal.
TEST(UnreadableInput, OtherBusErrorsKeepTheirEffect) {
    testing::TempFolder folder;
    testing::writeFile(folder / "watched", std::string(100, 'x'));
    testing::writeFile(folder / "other", std::string(8192, 'x'));
    for (const bool ownHandler : {true, false}) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (ownHandler) ::signal(SIGBUS, [](int) { ::_exit(42); });
            MappedFile watched;
            if (watched.open(folder / "watched") != 0) ::_exit(1);
            const int fd = ::open((folder / "other").c_str(), O_RDONLY);
            const auto* other = static_cast<const volatile char*>(::mmap(nullptr, 8192, PROT_READ, MAP_PRIVATE, fd, 0));
            if (::truncate((folder / "other").c_str(), 0) != 0) ::_exit(2);
            // A sanitizer's own handler reports the fault: not wanted here.
            ::close(2);
            ::_exit(other[5000] == 'x' ? 3 : 4);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (ownHandler)
            EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 42);
        else
            EXPECT_TRUE(WIFSIGNALED(status)) << status;  // SIGBUS, or a sanitizer's abort
    }
}

}  // namespace
}  // namespace calivant
