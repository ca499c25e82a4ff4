#include "platform/posix/save_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <ctime>

#include "platform/posix/path_names.h"

namespace rivak::posix {

namespace {

constexpr char kVersionLine[] = "rivak-save ";
constexpr std::size_t kCheckWidth = 8;
constexpr std::size_t kPage = 4096;
constexpr char kHex[] = "0123456789abcdef";

// CRC-32 (the polynomial of zlib and PNG), eight bytes at a time: table k
// gives a byte's share of the value k bytes further on.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr CrcTables kCrc = [] {
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    return t;
}();

std::uint32_t Crc32(std::string_view text) {
    std::uint32_t c = 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        const std::uint32_t low = c ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        c = kCrc[7][low & 0xFF] ^ kCrc[6][(low >> 8) & 0xFF] ^ kCrc[5][(low >> 16) & 0xFF] ^ kCrc[4][low >> 24] ^
            kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]];
    }
    for (; n > 0; ++p, --n) c = kCrc[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

template <typename N>
void AppendNumber(std::string& out, N n, int base = 10) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n, base).ptr;
    out.append(digits, end);
}

void AppendDevice(std::string& out, dev_t dev) {
    AppendNumber(out, major(dev));
    out += ':';
    AppendNumber(out, minor(dev));
}

char RecordMark(SavedState::Record record) {
    switch (record) {
    case SavedState::Record::None: return '-';
    case SavedState::Record::Present: return ':';
    case SavedState::Record::NoXattrs: return '!';
    case SavedState::Record::NotKept: break;
    }
    return '.';
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The folder that holds `file`, synced so that the new name survives a power cut.
bool SyncFolderOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && fsync(fd.get()) == 0;
}

}  // namespace

namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (unsigned char b : bytes) {
        if (b > ' ' && b < 0x7F && b != '\\') {
            out += static_cast<char>(b);
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
}

}  // namespace

std::string EscapeName(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    AppendEscaped(out, bytes);
    return out;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> UnescapeName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '\\') {
            if (c <= ' ' || c >= 0x7F) return std::nullopt;
            out += static_cast<char>(c);
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x') return std::nullopt;
        const int high = HexDigit(text[i + 2]), low = HexDigit(text[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        const unsigned char b = static_cast<unsigned char>(high << 4 | low);
        // One spelling per name: what needs no escape is never escaped.
        if (b > ' ' && b < 0x7F && b != '\\') return std::nullopt;
        out += static_cast<char>(b);
        i += 3;
    }
    return out;
}

bool IsPlainBelow(std::string_view path) {
    if (path.empty()) return false;
    PathNames names(path);
    for (std::string_view name; names.Next(name);)
        if (name.empty() || name == "." || name == "..") return false;
    return true;
}

// ---- writing ---------------------------------------------------------------

// The thread takes no signal: those that end a run reach the walk's thread,
// which holds them back while a batch is being changed here.
SaveWriter::SaveWriter(UniqueFd fd, std::string cwd) : fd_(std::move(fd)), cwd_(std::move(cwd)) {
    sigset_t all, before;
    sigfillset(&all);
    const bool blocked = pthread_sigmask(SIG_SETMASK, &all, &before) == 0;
    worker_ = std::thread([this] { Work(); });
    if (blocked) pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

SaveWriter::~SaveWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

std::unique_ptr<SaveWriter> SaveWriter::Create(const std::string& file) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return nullptr;
    // O_EXCL: nothing is followed, a journal is never overwritten.
    UniqueFd fd(open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd || fchmod(fd.get(), 0600) != 0) return nullptr;  // whatever the umask
    std::unique_ptr<SaveWriter> w(new SaveWriter(std::move(fd), cwd));
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    char stamp[32];
    if (!gmtime_r(&now, &utc) || !std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc)) {
        errno = EINVAL;
        return nullptr;
    }
    w->gathering_ = kVersionLine + std::to_string(kSaveFormat) + "\n";
    w->Line(std::string("created ") + stamp);
    if (!w->Seal() || !w->Wait() || !SyncFolderOf(file)) return nullptr;
    return w;
}

// A line is written in place: its check first left blank, then the body,
// then the check of what the body became.
std::size_t SaveWriter::Begin() {
    const std::size_t start = gathering_.size();
    gathering_.append(kCheckWidth, '0');
    gathering_ += ' ';
    return start;
}

// A line that would cross a page of the file starts the next one, after a
// line of blanks: a write cut short (SIGKILL) stops at a page's end, so it
// leaves whole lines.
void SaveWriter::End(std::size_t start) {
    const std::size_t body = start + kCheckWidth + 1;
    const std::uint32_t crc = Crc32(std::string_view(gathering_).substr(body));
    for (std::size_t i = 0; i < kCheckWidth; ++i) gathering_[start + i] = kHex[(crc >> (28 - 4 * i)) & 15];
    gathering_ += '\n';
    const std::size_t at = (written_ + start) % kPage, length = gathering_.size() - start;
    if (at + length > kPage && length <= kPage) {
        std::string blanks(kPage - at, ' ');
        blanks.back() = '\n';
        gathering_.insert(start, blanks);
    }
}

void SaveWriter::Line(std::string_view body) {
    const std::size_t start = Begin();
    gathering_ += body;
    End(start);
}

std::uint32_t SaveWriter::Root(std::string_view root) {
    if (lastNumber_ && root == lastRoot_) return lastNumber_;
    lastRoot_ = root;
    const auto [it, added] = roots_.try_emplace(lastRoot_, static_cast<std::uint32_t>(roots_.size() + 1));
    lastNumber_ = it->second;
    if (added) {
        const std::string absolute =
            !root.empty() && root[0] == '/' ? lastRoot_ : cwd_ + (cwd_ == "/" ? "" : "/") + lastRoot_;
        std::string body = "root ";
        AppendNumber(body, it->second);
        body += ' ';
        body += EscapeName(absolute);
        Line(body);
    }
    return it->second;
}

void SaveWriter::Mount(dev_t dev, const char* kind, const std::string& type, const std::string& mountPoint) {
    if (!mounts_.insert(dev).second) return;
    std::string body = "mount ";
    AppendDevice(body, dev);
    body += ' ';
    body += EscapeName(kind);
    body += ' ';
    body += EscapeName(type.empty() ? "?" : type);
    body += ' ';
    body += EscapeName(mountPoint.empty() ? "?" : mountPoint);
    Line(body);
}

void SaveWriter::Entry(std::uint32_t root, dev_t dev, ino_t ino, bool folder, const SavedState& state,
                       std::string_view below) {
    const std::size_t start = Begin();
    std::string& body = gathering_;
    body += "entry ";
    AppendNumber(body, root);
    body += ' ';
    AppendDevice(body, dev);
    body += ' ';
    AppendNumber(body, ino);
    body += folder ? " d 0x" : " f 0x";
    AppendNumber(body, state.word, 16);
    body += ' ';
    for (int shift = 9; shift >= 0; shift -= 3) body += kHex[(state.mode >> shift) & 7];
    body += ' ';
    body += RecordMark(state.record);
    for (unsigned char b : state.bytes) {
        body += kHex[b >> 4];
        body += kHex[b & 15];
    }
    body += ' ';
    if (below.empty()) body += '.';
    else AppendEscaped(body, below);
    End(start);
    ++gathered_;
    ++entries_;
}

void SaveWriter::Hand() {
    const std::size_t size = gathering_.size();
    written_ += size;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handed_.swap(gathering_);
        busy_ = true;
    }
    gathering_.clear();
    gathering_.reserve(size);  // the next batch is likely as large
    gathered_ = 0;
    changed_.notify_all();
}

bool SaveWriter::Seal(std::function<void()> onDisk) {
    if (!Wait()) return false;
    if (!gathering_.empty()) {
        std::string body = "seal ";
        AppendNumber(body, entries_);
        Line(body);
    }
    job_ = std::move(onDisk);  // the thread is idle: nothing reads it now
    Hand();
    return true;
}

bool SaveWriter::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (error_) errno = error_;
    return error_ == 0;
}

bool SaveWriter::Finish() {
    if (!Seal() || !Wait()) return false;
    std::string body = "end ";
    AppendNumber(body, entries_);
    Line(body);
    Hand();
    return Wait() && close(fd_.release()) == 0;
}

// The writing thread: each batch handed over is written whole, synced, and
// then its job is done.
void SaveWriter::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stop_; });
        if (!busy_) return;
        std::string batch = std::move(handed_);
        handed_.clear();
        std::function<void()> job = std::move(job_);
        job_ = nullptr;
        const bool failed = error_ != 0;
        lock.unlock();
        int error = 0;
        if (!failed && (!WriteAll(fd_.get(), batch) || fdatasync(fd_.get()) != 0)) {
            error = errno;
            // What the batch left (a full disk takes part of it) goes: the
            // file ends at its last seal, which --restore takes as it is.
            if (ftruncate(fd_.get(), static_cast<off_t>(durable_)) == 0) fdatasync(fd_.get());
        }
        if (!failed && !error) durable_ += batch.size();
        try {
            if (!failed && !error && job) job();
        } catch (...) {
            error = ENOMEM;  // the only failure a job lets out
        }
        lock.lock();
        if (error && !error_) error_ = error;  // a batch after a failed one is never written
        busy_ = false;
        changed_.notify_all();
    }
}

// ---- reading ---------------------------------------------------------------

const SavedMount* SavedFile::MountOf(dev_t dev) const {
    for (const SavedMount& m : mounts)
        if (m.dev == dev) return &m;
    return nullptr;
}

std::string SavedFile::PathOf(const SavedEntry& e) const {
    const std::string& root = roots[e.root];
    if (e.below.empty()) return root;
    return root + "/" + e.below;
}

namespace {

struct Fields {
    std::vector<std::string_view> items;
    explicit Fields(std::string_view body) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t space = body.find(' ', start);
            items.push_back(body.substr(start, space == std::string_view::npos ? space : space - start));
            if (space == std::string_view::npos) break;
            start = space + 1;
        }
    }
};

template <typename N>
bool Number(std::string_view text, N& out, int base = 10) {
    if (text.empty() || (text.size() > 1 && text[0] == '0' && base == 10)) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool Device(std::string_view text, dev_t& dev) {
    const std::size_t colon = text.find(':');
    unsigned int maj = 0, min = 0;
    if (colon == std::string_view::npos || !Number(text.substr(0, colon), maj) || !Number(text.substr(colon + 1), min))
        return false;
    dev = makedev(maj, min);
    return true;
}

bool Record(std::string_view text, SavedState& state) {
    if (text.size() == 1 && text[0] != ':') {
        if (text[0] == '.') state.record = SavedState::Record::NotKept;
        else if (text[0] == '-') state.record = SavedState::Record::None;
        else if (text[0] == '!') state.record = SavedState::Record::NoXattrs;
        else return false;
        return true;
    }
    if (text.empty() || text[0] != ':' || text.size() % 2 == 0) return false;
    state.record = SavedState::Record::Present;
    for (std::size_t i = 1; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        state.bytes.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    return true;
}

std::optional<std::string> Below(std::string_view text) {
    if (text == ".") return std::string();
    std::optional<std::string> path = UnescapeName(text);
    if (!path || !IsPlainBelow(*path)) return std::nullopt;
    return path;
}

bool ParseEntry(const std::vector<std::string_view>& f, const SavedFile& file, SavedEntry& e) {
    std::size_t root = 0;
    unsigned int mode = 0;
    std::uint64_t ino = 0;
    if (f.size() != 9 || !Number(f[1], root) || root == 0 || root > file.roots.size()) return false;
    if (!Device(f[2], e.dev) || !file.MountOf(e.dev) || !Number(f[3], ino)) return false;
    if (f[4] != "f" && f[4] != "d") return false;
    if (f[5].size() < 3 || f[5].size() > 10 || f[5].substr(0, 2) != "0x" || !Number(f[5].substr(2), e.state.word, 16))
        return false;
    if (f[6].size() != 4 || !Number(f[6], mode, 8) || mode > 07777) return false;
    if (!Record(f[7], e.state)) return false;
    std::optional<std::string> below = Below(f[8]);
    if (!below) return false;
    e.root = root - 1;
    e.ino = static_cast<ino_t>(ino);
    e.folder = f[4] == "d";
    e.state.mode = static_cast<mode_t>(mode);
    e.below = std::move(*below);
    return true;
}

}  // namespace

std::variant<SavedFile, SaveDamage> ReadSaveFile(std::string_view text) {
    using Why = SaveDamage::Why;
    if (text.empty()) return SaveDamage{1, Why::Empty, {}};
    SavedFile file;
    std::size_t line = 0, sealedLine = 0;  // the last seal's line
    std::size_t lastLine = 0;              // the last line that is not blanks
    bool ended = false;
    for (std::size_t start = 0; start < text.size();) {
        ++line;
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) return SaveDamage{line, Why::CutShort, {}};
        const std::string_view whole = text.substr(start, newline - start);
        start = newline + 1;
        if (line == 1) {
            const std::string_view prefix(kVersionLine);
            int version = 0;
            if (!whole.starts_with(prefix) || !Number(whole.substr(prefix.size()), version))
                return SaveDamage{1, Why::NotASaveFile, {}};
            if (version != kSaveFormat) return SaveDamage{1, Why::Newer, std::string(whole.substr(prefix.size()))};
            continue;
        }
        if (whole.find_first_not_of(' ') == std::string_view::npos) continue;  // the blanks before a page
        lastLine = line;
        if (ended) return SaveDamage{line, Why::Malformed, {}};
        std::uint32_t crc = 0;
        bool hex = whole.size() >= kCheckWidth + 2 && whole[kCheckWidth] == ' ';
        for (std::size_t i = 0; hex && i < kCheckWidth; ++i) {
            hex = HexDigit(whole[i]) >= 0;
            crc = crc << 4 | static_cast<std::uint32_t>(HexDigit(whole[i]));
        }
        if (!hex) return SaveDamage{line, Why::Malformed, {}};
        const std::string_view body = whole.substr(kCheckWidth + 1);
        if (Crc32(body) != crc) return SaveDamage{line, Why::Checksum, {}};
        const Fields fields(body);
        const std::vector<std::string_view>& f = fields.items;
        const std::string_view key = f[0];
        std::uint64_t count = 0;
        if (line == 2) {
            if (key != "created" || f.size() != 2) return SaveDamage{line, Why::Malformed, {}};
            file.created = f[1];
        } else if (key == "root") {
            std::size_t n = 0;
            std::optional<std::string> path = f.size() == 3 ? UnescapeName(f[2]) : std::nullopt;
            if (!path || path->empty() || (*path)[0] != '/' || !Number(f[1], n) || n != file.roots.size() + 1)
                return SaveDamage{line, Why::Malformed, {}};
            file.roots.push_back(std::move(*path));
        } else if (key == "mount") {
            SavedMount m;
            std::optional<std::string> kind, type, point;
            if (f.size() == 5) kind = UnescapeName(f[2]), type = UnescapeName(f[3]), point = UnescapeName(f[4]);
            if (!point || !kind || !type || !Device(f[1], m.dev) || file.MountOf(m.dev))
                return SaveDamage{line, Why::Malformed, {}};
            m.kind = std::move(*kind), m.type = std::move(*type), m.mountPoint = std::move(*point);
            file.mounts.push_back(std::move(m));
        } else if (key == "entry") {
            SavedEntry e;
            if (!ParseEntry(f, file, e)) return SaveDamage{line, Why::Malformed, {}};
            file.entries.push_back(std::move(e));
        } else if (key == "seal" || key == "end") {
            if (f.size() != 2 || !Number(f[1], count)) return SaveDamage{line, Why::Malformed, {}};
            if (count != file.entries.size()) return SaveDamage{line, Why::Missing, {}};
            sealedLine = line;
            ended = key == "end";
        } else {
            return SaveDamage{line, Why::Malformed, {}};
        }
    }
    // Lines after the last seal: a run stopped while it saved them had not
    // changed their entries yet, but a file cut short looks the same, so they
    // are put back too (where nothing changed, nothing is).
    if (sealedLine != lastLine) file.unsealed = sealedLine + 1;
    file.finished = ended;
    return file;
}

}  // namespace rivak::posix
