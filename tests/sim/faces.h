// The two ways a master reaches the bench bus, behind one interface, so a
// test can run the same transaction through either face.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "tests/support/line_master.h"

namespace tw_test {

class Face {
 public:
  virtual ~Face() = default;
  virtual void start() = 0;
  virtual bool write(std::uint8_t byte) = 0;
  virtual std::uint8_t read(bool ack) = 0;
  virtual void stop() = 0;

  // Writes the bytes after a START; true when every byte was acknowledged.
  bool send(std::uint8_t address, const std::vector<std::uint8_t>& bytes,
            bool stop_after = true) {
    return test_kit::send(*this, address, bytes, stop_after);
  }
  // Reads `count` bytes after a START with the read address, NACKing the
  // last one, then STOP.
  std::vector<std::uint8_t> receive(std::uint8_t address, std::size_t count) {
    return test_kit::receive(*this, address, count);
  }
  // Sets a register pointer, then reads from it after a repeated START.
  std::vector<std::uint8_t> read_from(std::uint8_t address, std::uint8_t pointer,
                                      std::size_t count) {
    start();
    write(address);
    write(pointer);
    return receive(address, count);
  }
};

class ByteFace final : public Face {
 public:
  explicit ByteFace(sim::Bus& bus) : bus_(bus) {}
  void start() override { bus_.tick(); bus_.start(); }
  bool write(std::uint8_t byte) override { bus_.tick(); return bus_.write(byte); }
  std::uint8_t read(bool ack) override { bus_.tick(); return bus_.read(ack); }
  void stop() override { bus_.tick(); bus_.stop(); }

 private:
  sim::Bus& bus_;
};

class LineFace final : public Face {
 public:
  explicit LineFace(sim::Bus& bus) : master_(bus) {}
  void start() override { master_.start(); }
  bool write(std::uint8_t byte) override { return master_.write(byte); }
  std::uint8_t read(bool ack) override { return master_.read(ack); }
  void stop() override { master_.stop(); }

 private:
  test_kit::BusLineMaster master_;
};

enum class FaceKind { line, byte };

inline std::unique_ptr<Face> make_face(FaceKind kind, sim::Bus& bus) {
  if (kind == FaceKind::line) return std::make_unique<LineFace>(bus);
  return std::make_unique<ByteFace>(bus);
}

inline std::string face_name(FaceKind kind) {
  return kind == FaceKind::line ? "LineFace" : "ByteFace";
}

}  // namespace tw_test
