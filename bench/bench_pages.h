// Pages for the benchmarks: the virtual scanner's cheques and a full page as
// the scanner codes them (modified Huffman with an EOL before every line and
// an RTC at the end), and the same coded data wrapped in a Group 3
// one-dimensional TIFF held in memory for libtiff.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct CodedPage {
    std::string name;
    int width = 0;
    int lines = 0;              // EOL count of the data: the page's line count
    std::vector<uint8_t> data;  // coded data, EOL first, RTC last
    std::vector<uint8_t> tiff;  // Group 3 1-D TIFF of the same data, one strip
};

// Cheque sides (front and rear in turn, seeds from 1) 1728 pixels wide.
std::vector<CodedPage> ChequePages(int count);
// The same cheques as the scanner codes them in gray (scan mode 4: 8 bits,
// scan mode 3: 4 bits), 1728 wide and 800 lines as the benchmark profile
// scans them; `tiff` stays empty. With `noise`, every pixel is moved up or
// down by up to that many levels first, as a sensor would, so that runs of
// unchanged pixels are rare.
std::vector<CodedPage> GrayChequePages(int count, int scanMode, int noise = 0);
// A 2592 x 3000 page tiled from cheques.
CodedPage FullPage();

// A TIFF held in memory, opened read-only through libtiff's client
// interface (mapped, so libtiff reads the strip in place).
class MemoryTiff {
  public:
    explicit MemoryTiff(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    TIFF* Open();

  private:
    static tmsize_t Read(thandle_t h, void* buf, tmsize_t n);
    static tmsize_t Write(thandle_t, void*, tmsize_t) { return 0; }
    static toff_t Seek(thandle_t h, toff_t off, int whence);
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t h);
    static int Map(thandle_t h, void** base, toff_t* size);
    static void Unmap(thandle_t, void*, toff_t) {}

    const std::vector<uint8_t>& bytes_;
    toff_t pos_ = 0;
};

// Silences libtiff's warnings and errors (the benchmarks check results
// themselves).
void QuietLibtiff();

}  // namespace bench
