// Output files written as a whole without ever clobbering what the path names: a regular file (or
// a path that does not exist yet) is replaced atomically from a temporary file in its own folder;
// a character device or a FIFO is written in place; a symlink is followed and its target replaced.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace mvp {

class OutputFile {
public:
    // `Seekable` is for writers that go back to patch a header (libsndfile): on a FIFO or a
    // terminal the bytes are gathered in an unnamed temporary file and copied out on commit.
    enum class Access { Sequential, Seekable };

    OutputFile() = default;
    ~OutputFile();  // abandons what was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares to write `path`. Refuses folders, sockets and block devices, a path that is not
    // writable (a read-only file stays read-only), and a folder where no temporary file can be
    // made. On failure returns false and sets *error to one line naming the path.
    bool open(const std::string& path, std::string* error, Access access = Access::Sequential);

    // Where to write: the temporary file, the device or FIFO itself, or the spool. -1 when closed.
    int fd() const { return m_fd; }
    // Writes everything, retrying short writes; false (the reason kept for commit) on failure.
    bool write(const void* data, size_t size);
    // Makes the output final: syncs the temporary file, gives it the mode (and where allowed the
    // owner) of the file it replaces, and renames it over the target. On failure the old file is
    // untouched, the temporary file removed, and *error says why in one line.
    bool commit(std::string* error);
    // Drops what was written: the temporary file is removed, a device is just closed.
    void abandon();

    // The path that will hold the output once committed (the symlink's target, if any).
    const std::string& target() const { return m_target; }
    // True when the output goes to a device or FIFO rather than replacing a file.
    bool in_place() const { return m_in_place; }

private:
    std::string m_path, m_target, m_temp;
    int m_fd = -1;
    int m_device_fd = -1;  // the device or FIFO behind a spool
    int m_slot = -1;       // the temporary file's entry in the interrupt clean-up list
    int m_write_errno = 0;
    bool m_in_place = false;
};

// Writes `size` bytes to `path` through an OutputFile. False with *error (one line) on failure.
bool write_output_file(const std::string& path, const void* data, size_t size, std::string* error);
inline bool write_output_file(const std::string& path, const std::string& text, std::string* error) {
    return write_output_file(path, text.data(), text.size(), error);
}

// True when both paths exist and name the same file (after symlinks; hard links count too), so
// that a tool can refuse to write an output over one of its inputs.
bool same_file(const std::string& a, const std::string& b);

// The outputs of one run, planned together so that no output destroys another or an input, and a
// failed run leaves no output behind. Every command that writes files uses it the same way:
//
//   OutputSet outs;
//   outs.add_input(patch, "the patch");           // each file the run reads
//   outs.add_output(wav, "-o");                   // each file it will write
//   if (!outs.check(&error)) ...                  // before any work: exit 2 with `error`
//   OutputFile* f = outs.open_streamed(wav, OutputFile::Access::Seekable, &error);  // written as it goes
//   ... the work ...
//   outs.put(log, bytes);                         // written at the end
//   if (!outs.commit(&error)) ...                 // all in place, or none
//
// Files are the same when they have the same device and inode, through symbolic and hard links;
// a path that does not exist yet is compared by its resolved folder and name. Character devices
// (/dev/null) may take several outputs: writing one in place destroys nothing.
class OutputSet {
public:
    // A file the run reads, named in a refusal by `role` ("the patch", "a MIDI file", ...).
    // Paths that do not exist are ignored: nothing can be lost by writing them.
    void add_input(const std::string& path, const std::string& role);
    // A file the run will write, named in a refusal with `option` ("-o", "--user-log") when one
    // is given. `may_replace` is the one input it may write over (the patch saved onto itself),
    // or empty. An empty path is no output.
    void add_output(const std::string& path, const std::string& option = "", const std::string& may_replace = "");
    // Before any work: every output differs from the others and from every input, and each can
    // be written (its folder exists and takes a new file, an existing file is writable and no
    // folder). Nothing is created. False with one line naming the path (and the other file).
    bool check(std::string* error) const;
    // Opens an output that is written while the run goes on; it is put in place by commit().
    OutputFile* open_streamed(const std::string& path, OutputFile::Access access, std::string* error);
    // The whole content of an output that is written at the end.
    void put(const std::string& path, std::vector<unsigned char> bytes);
    void put(const std::string& path, const std::string& text);
    // Writes every put() into its temporary file, and only when all of them (and every streamed
    // output) are complete renames them into place; on failure removes them all. A rename that
    // fails after others succeeded (a full or read-only disk met just then) is reported.
    bool commit(std::string* error);
    // Drops everything: no output is written.
    void abandon();

private:
    struct Input {
        std::string path, role;
    };
    struct Output {
        std::string path, option, may_replace;
        std::string named() const { return option.empty() ? path : option + " " + path; }
    };
    std::vector<Input> m_inputs;
    std::vector<Output> m_outputs;
    std::vector<std::unique_ptr<OutputFile>> m_streamed;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> m_pending;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every temporary file an OutputFile
// has open, write `line` and a newline to stderr, and end the process by the same signal (a shell
// sees status 128 + signal). `line` is copied; calling again replaces it.
void remove_temporaries_on_interrupt(const std::string& line);

// The temporary name used beside `target_name` in a folder whose names may hold `name_max` bytes:
// the target's name cut short enough (at a character boundary) that the suffix fits.
std::string temporary_name(const std::string& target_name, long name_max, const std::string& suffix);

}  // namespace mvp
