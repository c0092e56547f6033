#include "picture_load.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <fstream>
#include <iostream>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "app_state.h"
#include "core/decode_work.h"
#include "core/memory_budget.h"
#include "core/picture_header.h"
#include "platform/console.h"
#include "platform/decode_guard.h"
#include "platform/memory_available.h"

namespace {

constexpr char kLoadFailed[] = "读取srcImage错误";

std::string withoutTrailingSpace(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

void reportLoadFailure(const std::string& reason) {
    std::cout << kLoadFailed << std::endl;
    if (!reason.empty()) std::cerr << "tonemorph: " << reason << std::endl;
}

// A picture the machine cannot hold is a load failure, with the reason on stderr. held: what of
// it the process already holds (the decoded source), which the system no longer counts as
// available.
bool fitsInMemory(const std::string& name, cv::Size picture, int64_t held = 0, int64_t decoderBytes = 0) {
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    const int64_t needed = tonemorph::memoryNeeded(picture) + decoderBytes;
    if (!available || needed - held <= *available) return true;
    reportLoadFailure(name + " is " + std::to_string(picture.width) + "x" +
                      std::to_string(picture.height) + " pixels and needs about " +
                      tonemorph::describeBytes(needed) + " of memory, but only " +
                      tonemorph::describeBytes(*available + held) + " is available");
    return false;
}

// What stands at 1.jpg when it is not a file (or a link to one): reading a named pipe or a
// device can block or never end, so it is refused before anything opens it. Empty for a file,
// and for nothing at all, which the load itself reports.
std::string notAFile(const std::filesystem::path& path) {
    std::error_code error;
    switch (std::filesystem::status(path, error).type()) {
        case std::filesystem::file_type::regular:
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::none:
            return {};
        case std::filesystem::file_type::directory:
            return "a folder";
        case std::filesystem::file_type::fifo:
            return "a named pipe";
        case std::filesystem::file_type::socket:
            return "a socket";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character:
            return "a device";
        default:
            return "not a file";
    }
}

bool outOfMemoryText(const std::string& text) {
    for (const char* sign : {"Insufficient memory", "Failed to allocate", "bad_alloc", "Out of memory"}) {
        if (text.find(sign) != std::string::npos) return true;
    }
    return false;
}

// The whole of 1.jpg, read once, so that what is judged before decoding is what is decoded. Empty,
// with the message given, when it cannot be read (a missing file is the load failure alone) or
// would not fit in the memory available.
std::vector<uchar> readPictureFile(const std::string& name, const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        std::error_code error;
        if (!std::filesystem::exists(path, error) && !error) {
            // Where it was looked for: the working folder, or the folder the name leads to.
            std::filesystem::path folder = std::filesystem::absolute(path, error).parent_path();
            reportLoadFailure("there is no " + path.filename().u8string() + " in " + folder.u8string());
        } else {
            reportLoadFailure("cannot open " + name + " to read it");
        }
        return {};
    }
    const std::streamoff size = in.tellg();
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    if (size >= 0 && available && size > *available) {
        reportLoadFailure(name + " is a file of " + tonemorph::describeBytes(size) + ", but only " +
                          tonemorph::describeBytes(*available) + " of memory is available");
        return {};
    }
    std::vector<uchar> bytes(size > 0 ? static_cast<size_t>(size) : 0);
    in.seekg(0);
    if (size <= 0 || !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        reportLoadFailure(size == 0 ? std::string() : "cannot read " + name);
        return {};
    }
    return bytes;
}

// Tells the user, after a second, what is being decoded when that takes long (a picture of
// hundreds of megapixels takes tens of seconds), through the decode guard's own way to the
// terminal. Quiet for a decode that ends sooner.
class SlowDecodeNotice {
public:
    explicit SlowDecodeNotice(std::string text) {
        try {
            waiter_ = std::thread([this, text] {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!done_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; })) {
                    writeBesideGuard(text.c_str());
                }
            });
        } catch (const std::exception&) {
            // No thread to be had: the decode goes on without the notice.
        }
    }
    ~SlowDecodeNotice() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        if (waiter_.joinable()) waiter_.join();
    }
    SlowDecodeNotice(const SlowDecodeNotice&) = delete;
    SlowDecodeNotice& operator=(const SlowDecodeNotice&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread waiter_;
};

// Decodes bytes (the file read whole) into appState.srcImage, no larger than the memory available
// lets it be; false, with the message given, when it cannot. fileBytes: the file's own size (the
// bytes may be padded for the decoder); declared: the size its header gives.
bool decodePicture(const std::string& name, const std::vector<uchar>& bytes, int64_t fileBytes,
                   std::optional<cv::Size> declared) {
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    std::string failure;
    bool outOfMemory = false;
    beginGuardedDecode(available);
    try {
        const SlowDecodeNotice notice("tonemorph: decoding " + name + ", " +
                                      (declared ? "a picture of " + std::to_string(declared->width) + "x" +
                                                      std::to_string(declared->height) + " pixels in "
                                                : std::string()) +
                                      "a file of " + tonemorph::describeBytes(fileBytes) +
                                      "; this takes a while\n");
        appState.srcImage = cv::imdecode(bytes, cv::IMREAD_COLOR);
    } catch (const cv::Exception& error) {
        // A decoder that refuses the file by throwing is a load failure like any other.
        outOfMemory = error.code == cv::Error::StsNoMem;
        failure = withoutTrailingSpace(error.what());
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    const std::string printed = endGuardedDecode();
    outOfMemory = outOfMemory || (appState.srcImage.empty() && outOfMemoryText(printed));
    if (outOfMemory) {
        // The library's own words for it (an allocation it could not make) would say less than ours.
        appState.srcImage.release();
        reportLoadFailure(name + " needs more memory than the " +
                          (available ? tonemorph::describeBytes(*available) : std::string("memory")) +
                          " available");
        return false;
    }
    std::cerr << printed << std::flush;  // the decoder's warnings, as it gave them
    if (!failure.empty()) {
        reportLoadFailure("cannot decode " + name + ": " + failure);
        return false;
    }
    if (appState.srcImage.empty()) {
        reportLoadFailure({});
        return false;
    }
    return true;
}


// A refusal found while the decoder runs: told as any load failure, then the process ends at once
// (the decoder cannot be stopped), its colours put back.
[[noreturn]] void refuseAtOnce(const std::string& reason) {
    std::cout << kLoadFailed << std::endl;
    writeBesideGuard(("tonemorph: " + reason + "\n").c_str());
    restoreConsole();
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace

std::optional<PictureFile> readJudgedPicture(const std::string& name) {
    const std::filesystem::path path = std::filesystem::u8path(name);
    const std::string thing = notAFile(path);
    if (!thing.empty()) {
        reportLoadFailure(name + " is " + thing + ", not a picture file");
        return std::nullopt;
    }
    PictureFile file{name, readPictureFile(name, path), std::nullopt};
    if (file.bytes.empty()) return std::nullopt;
    // Judged from the header first, so a small file declaring a huge picture is refused before
    // anything is decoded, and one that would keep the decoder busy far longer than its size asks
    // too.
    file.declared = tonemorph::declaredSize(file.bytes.data(), file.bytes.size());
    if (file.declared &&
        !fitsInMemory(name, *file.declared, 0, tonemorph::decoderBytesBeyondPicture(file.bytes.data(), file.bytes.size()))) {
        return std::nullopt;
    }
    // All but a PNG's image data, which is unpacked beside the decode.
    const std::string excessive = tonemorph::excessiveDecodeWork(file.bytes.data(), file.bytes.size(), false);
    if (!excessive.empty()) {
        reportLoadFailure(name + " " + excessive);
        return std::nullopt;
    }
    return file;
}

bool decodeJudgedPicture(PictureFile& file) {
    const int64_t fileBytes = static_cast<int64_t>(file.bytes.size());
    tonemorph::endJpegAsFromAFile(file.bytes);
    // A PNG's image data, which the decoder unpacks whole however far it goes past the picture, is
    // unpacked to judge it on the other core while the decoder works: unpacking a photo's costs
    // about as much as decoding it, and the start should cost what decoding costs. A refusal ends
    // the program at once, whatever the decoder is doing.
    const uchar* const data = file.bytes.data();
    const std::string name = file.name;
    const auto judgeData = [data, fileBytes, name] {
        const std::string verdict = tonemorph::pngDataVerdict(data, static_cast<size_t>(fileBytes));
        if (!verdict.empty()) refuseAtOnce(name + " " + verdict);
    };
    std::thread beside;
    try {
        beside = std::thread(judgeData);
    } catch (const std::system_error&) {
        judgeData();  // no thread to be had: judged first, then decoded
    }
    const bool decoded = decodePicture(file.name, file.bytes, fileBytes, file.declared);
    if (beside.joinable()) beside.join();
    std::vector<uchar>().swap(file.bytes);  // the file's bytes are done with
    if (!decoded) return false;
    // Judged again by what it decoded to (headers that understate), before the work images and
    // windows multiply it; the source itself is already held.
    const cv::Size size = appState.srcImage.size();
    return fitsInMemory(file.name, size, tonemorph::memoryNeeded(size) - tonemorph::memoryNeededBesideSource(size));
}
