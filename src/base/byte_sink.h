// Where the coders and the message composer write: a sink takes bytes and
// remembers whether any write failed; the memory sink keeps them and knows
// their true length (no terminator is added).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char* data, size_t length) = 0;
    void write(const std::string& data) { write(data.data(), data.size()); }
    // Bytes of text known to need nothing on any wire: lines ended by CR LF
    // and none beginning with '.' (base64), in pieces of any size. A sink
    // that would have to look at every byte for those may pass them on.
    virtual void write_clean_lines(const char* data, size_t length) { write(data, length); }
    // Whether some write was lost; later writes may then be dropped.
    bool failed() const { return failed_; }

protected:
    void fail() { failed_ = true; }

private:
    bool failed_ = false;
};

class MemorySink : public ByteSink {
public:
    void write(const char* data, size_t length) override { bytes_.append(data, length); }
    const std::string& bytes() const { return bytes_; }
    size_t length() const { return bytes_.size(); }
    void clear() { bytes_.clear(); }
    // Hands the bytes over and leaves the sink empty.
    std::string take()
    {
        std::string out;
        out.swap(bytes_);
        return out;
    }

private:
    std::string bytes_;
};

// Writes to a file and keeps the reason (errno) of the first failed write;
// after it nothing more is written.
class FileSink : public ByteSink {
public:
    explicit FileSink(FILE* file) : file_(file) {}
    void write(const char* data, size_t length) override
    {
        if (error_ || !length) return;
        errno = 0;
        if (std::fwrite(data, 1, length, file_) != length) set_error();
    }
    // Flushes, checked like every write.
    void flush()
    {
        if (error_) return;
        errno = 0;
        if (std::fflush(file_) != 0 || std::ferror(file_)) set_error();
    }
    int error() const { return error_; }

private:
    void set_error()
    {
        error_ = errno ? errno : EIO;
        fail();
    }
    FILE* file_;
    int error_ = 0;
};

// Counts what would be written, for a size that must be known before the
// bytes themselves are sent.
class CountingSink : public ByteSink {
public:
    void write(const char*, size_t length) override { count_ += length; }
    unsigned long long count() const { return count_; }

private:
    unsigned long long count_ = 0;
};

// A fixed block in front of a sink, so coders can write a byte at a time
// cheaply; flushed when full and on request.
class SinkBuffer {
public:
    explicit SinkBuffer(ByteSink& sink) : sink_(sink) {}
    SinkBuffer(const SinkBuffer&) = delete;
    SinkBuffer& operator=(const SinkBuffer&) = delete;
    ~SinkBuffer() { flush(); }

    static constexpr size_t capacity = 16384;

    // Room for at least n more bytes at cursor().
    char* reserve(size_t n)
    {
        if (used_ + n > capacity) flush();
        return block_ + used_;
    }
    void commit(size_t n) { used_ += n; }
    void put(char c) { *reserve(1) = c, ++used_; }
    void put(const char* data, size_t n)
    {
        if (n > capacity) {
            flush();
            sink_.write(data, n);
            return;
        }
        char* p = reserve(n);
        for (size_t i = 0; i < n; ++i) p[i] = data[i];
        used_ += n;
    }
    void flush()
    {
        if (used_) sink_.write(block_, used_);
        used_ = 0;
    }

private:
    ByteSink& sink_;
    size_t used_ = 0;
    char block_[capacity];
};
