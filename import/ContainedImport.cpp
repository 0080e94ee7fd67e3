#include "import/ContainedImport.h"

#include "util/MachineMemory.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
#define VS_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VS_ADDRESS_SANITIZER 1
#endif
#endif

namespace
{

// The layout of what the child hands back: a header, then either the message of the
// import's failure or the scene. All numbers in native order.
constexpr char kMagic[4] = {'V', 'S', 'I', '1'};
enum Kind : std::uint32_t
{
    kScene = 0,
    kFailure = 1,
};
// The file descriptor the child writes its result to.
constexpr int kResultFd = 3;
// The child's exit status when an allocation passed its memory limit.
constexpr int kExitOutOfMemory = 3;
// The corners that can be added to the scene's positions without moving them.
constexpr size_t kSparePositions = 64;
// The longest texture path and failure message taken from the child.
constexpr std::uint32_t kMaxText = 4096;

[[noreturn]] void Fail(const std::string& path, const std::string& reason)
{
    throw std::runtime_error("Cannot load the scene \"" + path + "\": " + reason);
}

std::string Gigabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

// One line of at most a couple of hundred printable characters, from text that a
// child or an importer wrote.
std::string OneLine(const std::string& text)
{
    std::string line;
    for (char c : text)
    {
        line += (c == '\n' || c == '\r' || c == '\t')              ? ' '
                : (static_cast<unsigned char>(c) < 32 || c == 127) ? '?'
                                                                   : c;
    }
    const size_t first = line.find_first_not_of(' ');
    line = first == std::string::npos ? std::string() : line.substr(first);
    while (!line.empty() && line.back() == ' ')
    {
        line.pop_back();
    }
    return line.size() > 200 ? line.substr(0, 200) + "..." : line;
}

// The last line that is not empty of what the child wrote to its stderr.
std::string LastWords(int fd)
{
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_size <= 0)
    {
        return std::string();
    }
    const off_t keep = std::min<off_t>(info.st_size, 4096);
    std::string text(static_cast<size_t>(keep), '\0');
    if (pread(fd, text.data(), text.size(), info.st_size - keep) != keep)
    {
        return std::string();
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    {
        text.pop_back();
    }
    const size_t newline = text.rfind('\n');
    return OneLine(newline == std::string::npos ? text : text.substr(newline + 1));
}

std::string HelperPath()
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0)
    {
        std::string beside(self, static_cast<size_t>(length));
        beside = beside.substr(0, beside.rfind('/') + 1) + "vertexshadows-import";
        if (access(beside.c_str(), X_OK) == 0)
        {
            return beside;
        }
    }
    return VS_IMPORT_HELPER;
}

// A memory file above the standard descriptors, closed on exec unless handed on.
int MemoryFile(const char* name)
{
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
    {
        return -1;
    }
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return high;
}

// Whether none of count floats is infinite or not a number (all exponent bits set). A
// large array is checked in two halves at once.
bool AllFinite(const float* floats, size_t count)
{
    const auto check = [floats](size_t begin, size_t end)
    {
        std::uint32_t bad = 0;
        for (size_t i = begin; i < end; ++i)
        {
            std::uint32_t bits;
            std::memcpy(&bits, &floats[i], sizeof bits);
            bad |= (bits & 0x7F800000u) == 0x7F800000u;
        }
        return bad == 0;
    };
    if (count < (size_t{1} << 20))
    {
        return check(0, count);
    }
    bool firstHalf = false;
    std::thread first([&] { firstHalf = check(0, count / 2); });
    const bool secondHalf = check(count / 2, count);
    first.join();
    return firstHalf && secondHalf;
}

// The child's result, mapped read-only; every read is checked against its size.
class ResultReader
{
public:
    ResultReader(const std::string& path, int fd) : m_path(path)
    {
        struct stat info;
        if (fstat(fd, &info) != 0 || info.st_size <= 0)
        {
            Fail(m_path, "the import helper handed back nothing");
        }
        m_size = static_cast<size_t>(info.st_size);
        // Populated at once: the pages are all read, and faulting them in one by one
        // costs more than the copy.
        void* data = mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (data == MAP_FAILED)
        {
            Fail(m_path, std::string("cannot map the import's result: ") + std::strerror(errno));
        }
        m_data = static_cast<const char*>(data);
    }
    ~ResultReader() { munmap(const_cast<char*>(m_data), m_size); }
    ResultReader(const ResultReader&) = delete;
    ResultReader& operator=(const ResultReader&) = delete;

    [[noreturn]] void Inconsistent(const std::string& what) const
    {
        Fail(m_path, "the importer handed back inconsistent data (" + what + ")");
    }
    size_t Left() const { return m_size - m_at; }
    const char* Take(size_t bytes)
    {
        if (bytes > Left())
        {
            Inconsistent("it ends early");
        }
        const char* at = m_data + m_at;
        m_at += bytes;
        return at;
    }
    template <typename T> T Number()
    {
        T value;
        std::memcpy(&value, Take(sizeof value), sizeof value);
        return value;
    }
    std::string Text()
    {
        const auto length = Number<std::uint32_t>();
        if (length > kMaxText)
        {
            Inconsistent("a text of " + std::to_string(length) + " bytes");
        }
        return std::string(Take(length), length);
    }
    // count records of type T, every float in them finite, with room for spare more.
    template <typename T>
    std::vector<T> Records(std::uint64_t count, const char* what, size_t spare = 0)
    {
        static_assert(sizeof(T) % sizeof(float) == 0, "records of floats");
        if (count > Left() / sizeof(T))
        {
            Inconsistent(std::string("more ") + what + " than it holds");
        }
        const T* from = reinterpret_cast<const T*>(Take(static_cast<size_t>(count) * sizeof(T)));
        std::vector<T> records;
        records.reserve(static_cast<size_t>(count) + spare);
        records.insert(records.end(), from, from + count);
        if (!AllFinite(reinterpret_cast<const float*>(records.data()),
                       records.size() * (sizeof(T) / sizeof(float))))
        {
            Inconsistent(std::string("one of its ") + what + " is not finite");
        }
        return records;
    }

private:
    std::string m_path;
    const char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_at = 0;
};

// The child's result; imported is called once it is known to be a scene.
ImportedScene ReadResult(const std::string& path, int fd, const std::function<void()>& imported)
{
    ResultReader reader(path, fd);
    if (std::memcmp(reader.Take(sizeof kMagic), kMagic, sizeof kMagic) != 0)
    {
        reader.Inconsistent("not the import helper's format");
    }
    const auto kind = reader.Number<std::uint32_t>();
    if (kind == kFailure)
    {
        throw std::runtime_error(OneLine(reader.Text()));
    }
    if (kind != kScene)
    {
        reader.Inconsistent("an unknown kind of result");
    }
    imported();
    ImportedScene scene;
    const auto materials = reader.Number<std::uint32_t>();
    if (materials > reader.Left())
    {
        reader.Inconsistent("more materials than it holds");
    }
    scene.materials.resize(materials);
    std::uint64_t corners = 0;
    for (ImportedMaterial& material : scene.materials)
    {
        material.hasDiffuseTexture = reader.Number<std::uint8_t>() != 0;
        material.diffuseTexture = reader.Text();
        const auto count = reader.Number<std::uint64_t>();
        if (count % 3 != 0)
        {
            reader.Inconsistent("a material's corners are not whole triangles");
        }
        material.triangles = reader.Records<_Vertex>(count, "vertices");
        corners += count;
    }
    const auto positions = reader.Number<std::uint64_t>();
    if (positions != corners || positions == 0)
    {
        reader.Inconsistent(std::to_string(positions) + " positions for " +
                            std::to_string(corners) + " corners");
    }
    // Room for the corners of a floor, which the model adds after the scene's own.
    scene.positions = reader.Records<Float3>(positions, "positions", kSparePositions);
    if (reader.Left() != 0)
    {
        reader.Inconsistent("bytes beyond its end");
    }
    return scene;
}

// The child's writer of its result: buffered, and failing the child on a write error.
class ResultWriter
{
public:
    ResultWriter() : m_file(fdopen(kResultFd, "wb")) {}
    bool Ok() const { return m_file != nullptr; }
    void Bytes(const void* data, size_t size)
    {
        if (size && std::fwrite(data, 1, size, m_file) != size)
        {
            std::perror("vertexshadows-import: writing the result");
            std::_Exit(1);
        }
    }
    template <typename T> void Number(T value) { Bytes(&value, sizeof value); }
    void Text(const std::string& text)
    {
        const std::string kept = text.substr(0, kMaxText);
        Number(static_cast<std::uint32_t>(kept.size()));
        Bytes(kept.data(), kept.size());
    }
    void Header(Kind kind)
    {
        Bytes(kMagic, sizeof kMagic);
        Number(static_cast<std::uint32_t>(kind));
    }
    int Finish()
    {
        if (std::fclose(m_file) != 0)
        {
            std::perror("vertexshadows-import: writing the result");
            return 1;
        }
        return 0;
    }

private:
    std::FILE* m_file;
};

} // namespace

std::uint64_t ImportMemoryLimit()
{
    const std::uint64_t memory = MachineMemory();
    // Where the system does not say, no limit: RLIM_INFINITY.
    return memory ? static_cast<std::uint64_t>(static_cast<double>(memory) * kImportMemoryShare)
                  : static_cast<std::uint64_t>(RLIM_INFINITY);
}

ImportedScene ImportSceneContained(const std::string& path,
                                   const std::function<void(const char* step)>& stepDone)
{
    StartedImport import(path);
    return import.Take(stepDone);
}

StartedImport::StartedImport(const std::string& path)
    : m_path(path), m_result(MemoryFile("vertexshadows-import-result")),
      m_errors(MemoryFile("vertexshadows-import-errors")), m_helper(HelperPath()),
      m_memoryLimit(ImportMemoryLimit())
{
    if (m_result < 0 || m_errors < 0)
    {
        const int error = errno;
        CloseFiles();
        Fail(path,
             std::string("cannot make a memory file for the import: ") + std::strerror(error));
    }
    const std::string& helper = m_helper;
    const int result = m_result, errors = m_errors;
    const std::string limitText = std::to_string(m_memoryLimit);
    const std::string secondsText = std::to_string(kImportSeconds);
    char* const arguments[] = {
        const_cast<char*>(helper.c_str()), const_cast<char*>(limitText.c_str()),
        const_cast<char*>(secondsText.c_str()), const_cast<char*>(path.c_str()), nullptr};

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, errors, 2);
    posix_spawn_file_actions_adddup2(&files, result, kResultFd);
    posix_spawn_file_actions_addclosefrom_np(&files, kResultFd + 1);
    // The child starts with every signal at its default and none blocked, whatever the
    // threads of this process have set.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, helper.c_str(), &files, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
    {
        CloseFiles();
        Fail(path, "cannot start the import helper " + helper + ": " + std::strerror(spawned));
    }
    m_child = child;
    m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kImportSeconds);
}

StartedImport::~StartedImport()
{
    if (m_child > 0)
    {
        kill(m_child, SIGKILL);
        int status = 0;
        while (waitpid(m_child, &status, 0) < 0 && errno == EINTR)
        {
        }
    }
    CloseFiles();
}

void StartedImport::CloseFiles()
{
    for (int* fd : {&m_result, &m_errors})
    {
        if (*fd >= 0)
        {
            close(*fd);
            *fd = -1;
        }
    }
}

ImportedScene StartedImport::Take(const std::function<void(const char* step)>& stepDone)
{
    const std::string& path = m_path;
    const pid_t child = m_child;
    if (child <= 0)
    {
        Fail(path, "the import was taken already");
    }
    // Waiting by polling keeps the wait bounded without touching signal handlers that
    // other parts of the process (the toolkit's child watcher) own.
    int status = 0;
    bool killed = false;
    for (auto pause = std::chrono::microseconds(200);;)
    {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child || (ended < 0 && errno != EINTR))
        {
            break;
        }
        if (std::chrono::steady_clock::now() > m_deadline)
        {
            kill(child, SIGKILL);
            killed = true;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR)
            {
            }
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
    m_child = 0;
    // The memory files go with this call, whatever it ends in.
    struct Closer
    {
        StartedImport& import;
        ~Closer() { import.CloseFiles(); }
    } closer{*this};
    const std::uint64_t memoryLimit = m_memoryLimit;
    const std::string& helper = m_helper;

    const std::string words = LastWords(m_errors);
    const std::string said = words.empty() ? std::string() : " (it said: " + words + ")";
    if (killed || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU))
    {
        Fail(path, "the importer did not finish within " + std::to_string(kImportSeconds) + " s");
    }
    if (WIFSIGNALED(status))
    {
        const int signal = WTERMSIG(status);
        Fail(path, "the importer crashed on it (signal " + std::to_string(signal) + ", " +
                       sigdescr_np(signal) + ")" + said);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory)
    {
        Fail(path, "importing it needs more than " + Gigabytes(memoryLimit) +
                       ", the import's limit (" +
                       std::to_string(static_cast<int>(kImportMemoryShare * 100)) +
                       " % of this machine's memory)");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        Fail(path, "the import helper " + helper + " failed (exit status " +
                       std::to_string(WEXITSTATUS(status)) + ")" + said);
    }
    ImportedScene scene = ReadResult(path, m_result,
                                     [&]
                                     {
                                         if (stepDone)
                                         {
                                             stepDone("import");
                                         }
                                     });
    if (stepDone)
    {
        stepDone("hand-back");
    }
    return scene;
}

namespace
{

[[noreturn]] void OutOfMemory()
{
    std::_Exit(kExitOutOfMemory);
}

// The child's layout: the result's memory file itself, sized and mapped once the scene's
// counts are known, so that the corners are written once, straight into it. When they
// are, the child ends at once: the importer's destructors would only free memory that
// the system frees faster.
class ResultFileLayout : public SceneLayout
{
public:
    Places Place(const std::vector<ImportedMaterial>& materials,
                 const std::vector<std::uint64_t>& corners, std::uint64_t positions) override
    {
        std::vector<std::string> texts;
        size_t size = sizeof kMagic + 2 * sizeof(std::uint32_t);
        for (size_t m = 0; m < materials.size(); ++m)
        {
            texts.push_back(materials[m].diffuseTexture.substr(0, kMaxText));
            size += sizeof(std::uint8_t) + sizeof(std::uint32_t) + texts[m].size() +
                    sizeof(std::uint64_t) + corners[m] * sizeof(_Vertex);
        }
        size += sizeof(std::uint64_t) + positions * sizeof(Float3);
        if (ftruncate(kResultFd, static_cast<off_t>(size)) != 0)
        {
            throw std::runtime_error(std::string("cannot size the import's result: ") +
                                     std::strerror(errno));
        }
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, kResultFd, 0);
        if (data == MAP_FAILED)
        {
            ftruncate(kResultFd, 0);
            throw std::runtime_error(std::string("cannot map the import's result: ") +
                                     std::strerror(errno));
        }
        char* at = static_cast<char*>(data);
        const auto put = [&at](const void* bytes, size_t count)
        {
            std::memcpy(at, bytes, count);
            at += count;
        };
        const auto number = [&put](auto value) { put(&value, sizeof value); };
        put(kMagic, sizeof kMagic);
        number(static_cast<std::uint32_t>(kScene));
        number(static_cast<std::uint32_t>(materials.size()));
        Places places;
        for (size_t m = 0; m < materials.size(); ++m)
        {
            number(static_cast<std::uint8_t>(materials[m].hasDiffuseTexture));
            number(static_cast<std::uint32_t>(texts[m].size()));
            put(texts[m].data(), texts[m].size());
            number(static_cast<std::uint64_t>(corners[m]));
            places.corners.push_back(at);
            at += corners[m] * sizeof(_Vertex);
        }
        number(static_cast<std::uint64_t>(positions));
        places.positions = at;
        return places;
    }
    void Written() override { std::_Exit(0); }
};

} // namespace

int RunImportChild(int argc, char** argv)
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: vertexshadows-import MEMORY_BYTES SECONDS FILE (run by "
                             "vertexshadows, writes to descriptor 3)\n");
        return 2;
    }
    const rlim_t memory = std::strtoull(argv[1], nullptr, 10);
    const rlim_t seconds = std::strtoull(argv[2], nullptr, 10);
    // A second bound on time besides the parent's, for a child whose parent is gone.
    const rlimit cpu{seconds + 1, seconds + 2};
    setrlimit(RLIMIT_CPU, &cpu);
#ifndef VS_ADDRESS_SANITIZER
    // The address sanitizer reserves terabytes of address space up front; it has no
    // limit on memory then.
    const rlimit space{memory, memory};
    setrlimit(RLIMIT_AS, &space);
#else
    (void)memory;
#endif
    std::set_new_handler(OutOfMemory);

    ResultWriter out;
    if (!out.Ok())
    {
        std::perror("vertexshadows-import: descriptor 3");
        return 1;
    }
    // A scene is written by the layout, which ends the child; what returns has failed,
    // before anything was written.
    try
    {
        ResultFileLayout layout;
        ImportSceneInto(argv[3], layout);
    }
    catch (const std::exception& error)
    {
        out.Header(kFailure);
        out.Text(error.what());
        return out.Finish();
    }
    out.Header(kFailure);
    out.Text("the import ended without a result");
    return out.Finish();
}
