// Wavetable WAVs: mono frames one after another, read and written through libsndfile from and to
// memory; the frame size travels in a 'clm ' chunk whose text starts with "<!>" and the size.
#include <sndfile.h>

#include <algorithm>
#include <cstring>

#include "frame_table.h"

namespace mvbank {

namespace {

constexpr int kDefaultFrame = 2048;
constexpr int kWrittenRate = 44100;  // a table has no rate of its own; this one is the usual

// libsndfile's virtual I/O over a byte image: read-only over `data`, or growing `out`.
struct MemoryFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::vector<uint8_t>* out = nullptr;
    sf_count_t pos = 0;

    sf_count_t length() const { return static_cast<sf_count_t>(out ? out->size() : size); }
    const uint8_t* bytes() const { return out ? out->data() : data; }
};

MemoryFile* file_of(void* user) { return static_cast<MemoryFile*>(user); }

sf_count_t mem_length(void* user) { return file_of(user)->length(); }

sf_count_t mem_seek(sf_count_t offset, int whence, void* user) {
    MemoryFile* f = file_of(user);
    sf_count_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->length() : 0;
    const sf_count_t to = base + offset;
    if (to < 0) return -1;
    f->pos = to;
    return to;
}

sf_count_t mem_read(void* ptr, sf_count_t count, void* user) {
    MemoryFile* f = file_of(user);
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, f->length() - f->pos));
    if (n > 0) std::memcpy(ptr, f->bytes() + f->pos, static_cast<size_t>(n));
    f->pos += n;
    return n;
}

sf_count_t mem_write(const void* ptr, sf_count_t count, void* user) {
    MemoryFile* f = file_of(user);
    if (!f->out || count < 0) return 0;
    const size_t end = static_cast<size_t>(f->pos + count);
    if (end > f->out->size()) f->out->resize(end);
    std::memcpy(f->out->data() + f->pos, ptr, static_cast<size_t>(count));
    f->pos += count;
    return count;
}

sf_count_t mem_tell(void* user) { return file_of(user)->pos; }

SF_VIRTUAL_IO memory_io() { return {mem_length, mem_seek, mem_read, mem_write, mem_tell}; }

// The frame size a 'clm ' chunk names: 0 when there is no such chunk or its text does not start
// with "<!>"; -1 for a number too long to be a frame size; -2 when "<!>" is followed by no
// positive number ("<!>0", "<!>-2048"), which names no frame size and must not pass for none.
long long clm_frame_size(SNDFILE* sf) {
    SF_CHUNK_INFO info{};
    std::memcpy(info.id, "clm ", 4);
    info.id_size = 4;
    SF_CHUNK_ITERATOR* it = sf_get_chunk_iterator(sf, &info);
    if (!it || sf_get_chunk_size(it, &info) != SF_ERR_NO_ERROR || info.datalen < 4) return 0;
    std::vector<char> text(info.datalen);
    info.data = text.data();
    if (sf_get_chunk_data(it, &info) != SF_ERR_NO_ERROR || std::memcmp(text.data(), "<!>", 3) != 0) return 0;
    long long n = 0;
    size_t digits = 0;
    for (size_t i = 3; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (digits == 9) return -1;
        n = n * 10 + (text[i] - '0');
    }
    return digits == 0 || n == 0 ? -2 : n;
}

bool readable_samples(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE: return true;
    default: return false;
    }
}

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

// libsndfile reads whatever part of a cut-off data chunk is there; a wavetable missing its end has
// lost frames, so the chunk's announced size is checked against the file first.
std::string data_chunk_problem(const uint8_t* data, size_t size) {
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) return {};
    for (size_t pos = 12; size - pos >= 8;) {
        const uint64_t length = le32(data + pos + 4);
        const size_t body = pos + 8;
        if (std::memcmp(data + pos, "data", 4) == 0) {
            if (length > size - body)
                return "truncated: its data chunk announces " + std::to_string(length) + " bytes, the file holds " +
                       std::to_string(size - body);
            return {};
        }
        const uint64_t next = body + length + (length & 1u);
        if (next > size) return {};
        pos = static_cast<size_t>(next);
    }
    return {};
}

std::string frame_rule(long long n) {
    return "frame size " + std::to_string(n) + " is not a power of 2 from 2 to " + std::to_string(kMaxWavFrame);
}

}  // namespace

std::string decode_wav_table(const uint8_t* data, size_t size, int frame_size, FrameTable* table) {
    if (std::string what = data_chunk_problem(data, size); !what.empty()) return what;
    MemoryFile file;
    file.data = data;
    file.size = size;
    SF_VIRTUAL_IO io = memory_io();
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (!sf) return std::string("not a WAV file that can be read (") + sf_strerror(nullptr) + ")";
    struct Closer {
        SNDFILE* sf;
        ~Closer() { sf_close(sf); }
    } closer{sf};

    const int type = info.format & SF_FORMAT_TYPEMASK;
    if (type != SF_FORMAT_WAV && type != SF_FORMAT_WAVEX) return "not a RIFF/WAVE file";
    if (info.channels != 1)
        return "has " + std::to_string(info.channels) + " channels; a wavetable WAV is mono";
    if (!readable_samples(info.format))
        return "sample format not supported (8, 16, 24 or 32-bit PCM, or 32 or 64-bit float)";

    long long n = frame_size;
    if (n == 0) {
        n = clm_frame_size(sf);
        if (n == -1) return "the frame size in its 'clm ' chunk is too long a number";
        if (n < 0) return "the frame size in its 'clm ' chunk is not a positive number";
        if (n != 0 && (!is_power_of_two(n) || n < kMinFrame || n > kMaxWavFrame))
            return frame_rule(n) + " (from its 'clm ' chunk)";
        if (n == 0) n = kDefaultFrame;
    }
    if (!is_power_of_two(n) || n < kMinFrame || n > kMaxWavFrame) return frame_rule(n);

    const long long total = info.frames;
    if (total <= 0) return "holds no samples";
    if (total < n)
        return "holds " + std::to_string(total) + " samples, less than one frame of " + std::to_string(n) +
               " (--frame sets the frame size)";
    if (total % n != 0)
        return "holds " + std::to_string(total) + " samples, not a whole number of " + std::to_string(n) +
               "-sample frames (--frame sets the frame size)";
    // Every sample takes at least one byte of the image, so this cannot ask for more than it holds.
    if (static_cast<unsigned long long>(total) > size) return "claims more samples than the file holds";
    std::vector<float> samples(static_cast<size_t>(total));
    const sf_count_t got = sf_readf_float(sf, samples.data(), total);
    if (got != total)
        return "truncated: " + std::to_string(total) + " samples announced, " + std::to_string(got) + " read";
    table->frame_size = static_cast<int>(n);
    table->frame_count = static_cast<int>(total / n);
    table->samples = std::move(samples);
    table->names.clear();
    return check_finite(*table);
}

std::string encode_wav_table(const FrameTable& table, std::vector<uint8_t>* bytes) {
    bytes->clear();
    MemoryFile file;
    file.out = bytes;
    SF_VIRTUAL_IO io = memory_io();
    SF_INFO info{};
    info.samplerate = kWrittenRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* sf = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (!sf) return std::string("cannot make a WAV: ") + sf_strerror(nullptr);
    sf_command(sf, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    std::string text = "<!>" + std::to_string(table.frame_size) + " 00000000 wavetable (mvbank)";
    text.resize((text.size() + 3) / 4 * 4, ' ');
    SF_CHUNK_INFO chunk{};
    std::memcpy(chunk.id, "clm ", 4);
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(text.size());
    chunk.data = text.data();
    std::string error;
    if (sf_set_chunk(sf, &chunk) != SF_ERR_NO_ERROR) error = std::string("cannot add the 'clm ' chunk: ") + sf_strerror(sf);
    const sf_count_t total = static_cast<sf_count_t>(table.samples.size());
    if (error.empty() && sf_writef_float(sf, table.samples.data(), total) != total)
        error = std::string("cannot write the samples: ") + sf_strerror(sf);
    if (sf_close(sf) != 0 && error.empty()) error = "cannot finish the WAV";
    if (!error.empty()) bytes->clear();
    return error;
}

}  // namespace mvbank
