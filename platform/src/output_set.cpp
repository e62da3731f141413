// The outputs of one run, checked together and put in place together (see mvp/output_file.h).
// Written with std::filesystem only, so that the Windows build shares it.
#include <filesystem>
#include <system_error>

#include "mvp/output_file.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace mvp {

namespace {

// What decides whether two paths are one file: an existing file by fs::equivalent (device and
// inode, through links); a path that does not exist yet by its resolved folder and name.
struct Identity {
    std::string path;
    bool exists = false;
    bool shareable = false;  // a character device: any number of outputs may go there
    std::string name;
};

Identity identify(const std::string& path) {
    Identity id;
    id.path = path;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (fs::exists(st)) {
        id.exists = true;
        id.shareable = fs::is_character_file(st);
        return id;
    }
    id.name = fs::weakly_canonical(fs::absolute(path, ec), ec).string();
    return id;
}

bool same_identity(const Identity& a, const Identity& b) {
    if (a.exists != b.exists) return false;
    if (!a.exists) return a.name == b.name;
    std::error_code ec;
    return fs::equivalent(a.path, b.path, ec);
}

bool can_write(const fs::path& p) {
#ifdef _WIN32
    (void)p;
    return true;  // the commit says why when it cannot
#else
    return ::access(p.c_str(), W_OK) == 0;
#endif
}

// Whether `path` could be written, without creating anything; one line on failure.
bool writable(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    std::error_code ec;
    // Through symbolic links: the target is what will be written.
    const fs::path target = fs::weakly_canonical(fs::absolute(path, ec), ec);
    const fs::file_status st = fs::status(target, ec);
    if (fs::exists(st)) {
        if (fs::is_directory(st)) return fail("is a folder");
        if (!fs::is_regular_file(st) && !fs::is_character_file(st) && !fs::is_fifo(st))
            return fail("is neither a file, a character device nor a FIFO");
        if (!can_write(target)) return fail("cannot write: permission denied");
        if (!fs::is_regular_file(st)) return true;
    }
    const std::string name = fs::path(path).filename().string();
    if (name.empty() || name == "." || name == "..") return fail("is not a file name");
    const fs::path dir = target.parent_path();
    const fs::file_status dst = fs::status(dir, ec);
    if (!fs::exists(dst)) return fail("cannot write into the folder " + dir.string() + ": no such folder");
    if (!fs::is_directory(dst)) return fail(dir.string() + " is not a folder");
    // A new file (the temporary one beside it, for a file that is replaced) needs a writable folder.
    if (!can_write(dir)) return fail("cannot write into the folder " + dir.string() + ": permission denied");
    return true;
}

}  // namespace
void OutputSet::add_input(const std::string& path, const std::string& role) {
    if (!path.empty()) m_inputs.push_back({path, role});
}

void OutputSet::add_output(const std::string& path, const std::string& option, const std::string& may_replace) {
    if (!path.empty()) m_outputs.push_back({path, option, may_replace});
}

bool OutputSet::check(std::string* error) const {
    std::vector<Identity> inputs;
    for (const Input& in : m_inputs) inputs.push_back(identify(in.path));
    std::vector<Identity> outputs;
    for (const Output& out : m_outputs) {
        if (!writable(out.path, error)) return false;
        const Identity id = identify(out.path);
        for (size_t k = 0; k < outputs.size(); ++k)
            if (!id.shareable && same_identity(id, outputs[k])) {
                if (error)
                    *error = out.named() + ": is the same file as " + m_outputs[k].named() + "; give each output its own file";
                return false;
            }
        outputs.push_back(id);
        const Identity allowed = out.may_replace.empty() ? Identity{} : identify(out.may_replace);
        for (size_t k = 0; k < inputs.size(); ++k) {
            if (id.shareable || !inputs[k].exists || !same_identity(id, inputs[k])) continue;
            if (!out.may_replace.empty() && same_identity(inputs[k], allowed)) continue;
            if (error)
                *error = out.named() + ": is " + m_inputs[k].role + " (" + m_inputs[k].path +
                         ") that this run reads; choose another output";
            return false;
        }
    }
    return true;
}

OutputFile* OutputSet::open_streamed(const std::string& path, OutputFile::Access access, std::string* error) {
    auto file = std::make_unique<OutputFile>();
    if (!file->open(path, error, access)) return nullptr;
    m_streamed.push_back(std::move(file));
    return m_streamed.back().get();
}

void OutputSet::put(const std::string& path, std::vector<unsigned char> bytes) {
    m_pending.emplace_back(path, std::move(bytes));
}

void OutputSet::put(const std::string& path, const std::string& text) {
    put(path, std::vector<unsigned char>(text.begin(), text.end()));
}

bool OutputSet::commit(std::string* error) {
    std::vector<std::unique_ptr<OutputFile>> files;
    for (auto& [path, bytes] : m_pending) {
        auto file = std::make_unique<OutputFile>();
        if (!file->open(path, error) || !file->write(bytes.data(), bytes.size())) {
            if (file->fd() >= 0) file->commit(error);  // a failed write: commit names the reason and cleans up
            abandon();
            return false;
        }
        files.push_back(std::move(file));
    }
    m_pending.clear();
    for (auto& f : files) m_streamed.push_back(std::move(f));
    bool ok = true;
    for (auto& f : m_streamed) {
        std::string why;
        if (ok && !f->commit(&why)) {
            if (error) *error = why;
            ok = false;
        }
    }
    abandon();
    return ok;
}

void OutputSet::abandon() {
    for (auto& f : m_streamed) f->abandon();
    m_streamed.clear();
    m_pending.clear();
}

}  // namespace mvp
