// A VNC viewer on a raw socket, for the VNC screen's tests: the handshake,
// the messages a viewer sends, and the pictures it is sent in raw encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QRgb>

// A pixel format as a viewer asks for it (true colour).
struct VncFormat {
    uint8_t bitsPerPixel;
    uint8_t depth;
    bool bigEndian;
    uint16_t redMax, greenMax, blueMax;
    uint8_t redShift, greenShift, blueShift;
};

// The formats of the tests' tables: 32-bit RGB and BGR, the 24 bits in the
// high bytes of 32, big-endian RGB and BGR, 16-bit 565 and 555, 8-bit 233.
struct NamedVncFormat {
    const char* name;
    VncFormat format;
};
const std::vector<NamedVncFormat>& vnc_formats();

// True when two colours differ by no more than the format's steps.
bool same_colour(QRgb a, QRgb b, const VncFormat& format);

class RawViewer
{
  public:
    RawViewer() = default;
    RawViewer(const RawViewer&) = delete;
    RawViewer& operator=(const RawViewer&) = delete;
    ~RawViewer() { close(); }

    // Connects to a numeric address and port and shakes hands (no security,
    // shared; in the server's version, 3.3 to 3.8); false when a step fails
    // or the server is silent for ms.
    bool connect(const std::string& address, int port, int ms = 5000);
    bool setFormat(const VncFormat& format);
    bool setEncodings(const std::vector<int32_t>& encodings);
    bool request(bool incremental);
    // A key pressed and released.
    bool key(uint32_t keysym);
    // The buttons held (bit 0 the left one) at x, y.
    bool pointer(int buttons, int x, int y);
    // Reads the next picture update in whole (raw rectangles drawn, the
    // cursor's skipped); false when none begins within ms or the stream
    // breaks.
    bool update(int ms = 5000);
    // The picture's colour at x, y, each part scaled to 8 bits.
    QRgb at(int x, int y) const;
    // Closes the connection, with a reset instead of an orderly end.
    void close(bool reset = false);

    int width = 0;
    int height = 0;
    // The server's format until another is asked for.
    VncFormat format{};

  private:
    bool send(const std::vector<uint8_t>& bytes);
    bool read(void* to, size_t n, int ms);

    int fd_ = -1;
    std::vector<QRgb> picture_;
};
