#pragma once
#include <cstdio>
#include <string>

// A scratch file in the working directory, usable as a FILE* on every build
// (in-memory streams are not available on Windows).
class temp_stream {
public:
    explicit temp_stream(const std::string& name) : path_("kelvora-test-" + name + ".bin")
    {
        file_ = std::fopen(path_.c_str(), "w+b");
    }
    ~temp_stream()
    {
        if (file_)
            std::fclose(file_);
        std::remove(path_.c_str());
    }
    temp_stream(const temp_stream&) = delete;
    temp_stream& operator=(const temp_stream&) = delete;

    std::FILE* get() const { return file_; }

    // Replaces the content and rewinds.
    void set(const std::string& bytes)
    {
        std::fclose(file_);
        file_ = std::fopen(path_.c_str(), "w+b");
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::rewind(file_);
    }

    std::string content() const
    {
        std::fflush(file_);
        std::string bytes;
        std::rewind(file_);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            bytes.append(buffer, n);
        return bytes;
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

inline std::string frame(const std::string& body)
{
    const auto n = static_cast<unsigned>(body.size());
    std::string out;
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8 & 0xFF));
    out.push_back(static_cast<char>(n >> 16 & 0xFF));
    out.push_back(static_cast<char>(n >> 24 & 0xFF));
    return out + body;
}
