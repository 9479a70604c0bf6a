// Throughput of the seven hashes on 64 MiB, beside OpenSSL (SHA family) and
// libgcrypt (GOST) in the same process, best of three runs each; then every
// hash through each path this processor offers. The "anchor" and "path"
// lines are read by bench/hash_table.py.
#include <gcrypt.h>
#include <openssl/evp.h>

#include <cstdio>
#include <vector>

#include "bench/hash_paths.h"

namespace {

constexpr std::size_t data_size = 64u << 20;

double openssl(const EVP_MD* md, const std::vector<std::uint8_t>& data)
{
    return bench::best_mbps(data.size(), 3, [&] {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_Digest(data.data(), data.size(), out, &n, md, nullptr);
    });
}

double gcrypt(int algo, const std::vector<std::uint8_t>& data)
{
    return bench::best_mbps(data.size(), 3, [&] {
        unsigned char out[64];
        gcry_md_hash_buffer(algo, out, data.data(), data.size());
    });
}

void row(const bench::algorithm& a, const char* other_name, double other, double target,
         const std::vector<std::uint8_t>& data)
{
    const double mine = bench::ours(a.oid, data, 3);
    const double ratio = mine / other;
    std::printf("%-22s %8.1f MB/s   %-10s %8.1f MB/s   ratio %5.2fx   target %.2fx  %s\n", a.name, mine, other_name,
                other, ratio, target, ratio >= target ? "met" : "NOT MET");
    std::printf("anchor %s %s %.1f\n", a.name, other_name, other);
    std::fflush(stdout);
}

}  // namespace

int main()
{
    gcry_check_version(nullptr);
    const std::vector<std::uint8_t> data = bench::random_data(data_size);
    const auto& a = bench::algorithms;

    std::printf("hash throughput on %zu MiB\n", data_size >> 20);
    row(a[0], "OpenSSL", openssl(EVP_sha1(), data), 0.9, data);
    row(a[1], "OpenSSL", openssl(EVP_sha256(), data), 0.9, data);
    row(a[2], "OpenSSL", openssl(EVP_sha384(), data), 0.85, data);
    row(a[3], "OpenSSL", openssl(EVP_sha512(), data), 0.85, data);
    row(a[4], "libgcrypt", gcrypt(GCRY_MD_GOSTR3411_CP, data), 1.5, data);
    row(a[5], "libgcrypt", gcrypt(GCRY_MD_STRIBOG256, data), 2.0, data);
    row(a[6], "libgcrypt", gcrypt(GCRY_MD_STRIBOG512, data), 2.0, data);
    bench::print_paths("x86_64-native", data, 3);
    return 0;
}
