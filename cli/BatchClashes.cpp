// The batch's files checked against one another before any port runs: no port may write over
// a capture, a summary or another port's output.
#include <sys/stat.h>

#include "cli/Batch.h"

namespace tarnwell {

namespace fs = std::filesystem;

namespace {

// A path as the file system sees it: the file it names when it exists (device and inode, so
// that a link or another spelling is the same file), else its resolved spelling.
struct FileKey {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;

    static FileKey Of(const std::string& path)
    {
        FileKey key;
        std::error_code error;
        key.path = fs::weakly_canonical(path, error).string();
        if (error) {
            key.path = fs::absolute(path, error).lexically_normal().string();
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            key = {true, info.st_dev, info.st_ino, key.path};
        }
        return key;
    }

    bool Same(const FileKey& other) const
    {
        if (exists && other.exists) {
            return device == other.device && inode == other.inode;
        }
        return exists == other.exists && path == other.path;
    }
};

// One path the batch reads or writes, and what it is to whom.
struct Claim {
    FileKey key;
    std::size_t port;  // the port it belongs to; ports.size() for the summaries
    std::string what;  // "is the Tx capture", "is the output", ...
};

}  // namespace

void RefuseClashes(std::vector<BatchPort>& ports, const fs::path& outDir, bool plots)
{
    const std::size_t summaries = ports.size();
    std::vector<Claim> captures;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const TestSettings& s = ports[i].options.settings;
        for (const auto& [path, what] :
             {std::pair{&s.txPath, "is the Tx capture"}, std::pair{&s.rxPath, "is the Rx capture"}}) {
            if (!path->empty()) {
                captures.push_back({FileKey::Of(*path), i, what});
            }
        }
    }
    std::vector<Claim> written;
    for (const char* name : {"summary.csv", "summary.json"}) {
        written.push_back(
            {FileKey::Of((outDir / name).string()), summaries, "is the batch's " + std::string(name)});
    }

    for (std::size_t i = 0; i < ports.size(); ++i) {
        BatchPort& port = ports[i];
        // What the port will write: its output, and with plots its pictures' folder.
        std::vector<std::pair<std::string, Claim>> own;
        if (const std::string& out = port.options.settings.outPath; !out.empty()) {
            own.push_back({out, {FileKey::Of(out), i, "is the output"}});
            if (plots) {
                const std::string folder = (outDir / port.name).string();
                own.push_back({folder, {FileKey::Of(folder), i, "is the pictures' folder"}});
            }
        }
        std::string clash;
        for (const auto& [path, mine] : own) {
            // Captures first: a capture is what the batch must never lose.
            for (const std::vector<Claim>* others : {&captures, &written}) {
                for (const Claim& other : *others) {
                    if (!clash.empty() || !mine.key.Same(other.key)) {
                        continue;
                    }
                    clash = path + " " + other.what;
                    if (other.port != summaries && other.port != i) {
                        clash += " of port " + ports[other.port].name;
                    }
                }
            }
        }
        if (clash.empty()) {
            for (const auto& [path, mine] : own) {
                written.push_back(mine);
            }
            continue;
        }
        port.keepOutput = true;
        port.problem = port.problem.empty() ? clash : port.problem + "; " + clash;
    }
}

}  // namespace tarnwell
