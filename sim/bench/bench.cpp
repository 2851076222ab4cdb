// The simulated PC: the configured slave devices on one bus, and the two
// masters that reach it from the I/O ports, the PCF8584 card through the
// bus's byte face and the parallel port through its line face.
#include "sim/bench/bench.h"

#include "platform/format.h"
#include "sim/bench/parport_model.h"
#include "sim/bench/pcf8584_model.h"
#include "sim/bus/i2c_bus.h"
#include "sim/bus/waveform.h"
#include "sim/devices/device_list.h"

namespace sim {

namespace {

using Sink = std::function<void(std::string_view)>;

}  // namespace

struct Bench::Parts {
  Parts(const BenchConfig& config, Sink warn_sink)
      : warn(std::move(warn_sink)),
        card(bus, CardFaults{config.bus_busy, config.bus_error,
                             config.pin_polls}),
        parport(bus, config.adapter_status, config.sda_stuck) {}

  Sink warn;
  Bus bus;
  Pcf8584Model card;
  ParportModel parport;
};

Bench::Bench(const BenchConfig& config, Sink warn, Sink violation) {
  if (!warn) warn = [](std::string_view) {};
  parts_ = std::make_unique<Parts>(config, std::move(warn));
  Parts& parts = *parts_;
  if (violation) parts.bus.on_violation(violation);
  parts.bus.clock().configure(static_cast<std::uint32_t>(config.access_time_us),
                              config.wall_clock);
  if (config.nack_byte > 0) {
    parts.bus.refuse_data_byte(static_cast<unsigned>(config.nack_byte));
  }

  for (auto& device :
       make_devices(config.devices + " " + large_eeprom_entries(config.large_eeproms, parts.warn),
                    config.eeprom_file, parts.warn,
                    DeviceTiming{&parts.bus.clock(),
                                 static_cast<std::uint32_t>(config.eeprom_write_us),
                                 static_cast<std::uint32_t>(config.stretch_us)})) {
    parts.bus.attach(std::move(device));
  }
  if (config.timing_check != TimingMode::off) {
    parts.bus.check_timing(config.timing_check, config.timing_strict);
    parts.bus.on_timing_violation([&parts, trace = violation](TimingParameter parameter,
                                                                std::string_view line) {
      if (trace) trace(line);
      if (parts.bus.timing_violations(parameter) == 1) {
        parts.warn(std::string(line.substr(2)) + "; later " +
                   std::string(timing_symbol(parameter)) + " violations are counted");
      }
    });
  }
  // Stranded before the waveform begins: the recording opens on SDA low.
  parts.bus.strand_slave(static_cast<unsigned>(config.stranded_clocks));
  if (!config.waveform.empty()) {
    std::string error;
    if (auto waveform = Waveform::open(config.waveform, &error)) {
      waveform->on_failure(parts.warn);
      parts.bus.record_waveform(std::move(waveform));
    } else {
      parts.warn(error + "; no waveform is recorded");
    }
  }

  // Two decoders on one port would both drive the data bus; the card was
  // there first, so it keeps the ports they share.
  const unsigned card_end = config.card_base + 1u;
  const unsigned parport_end = config.parport_base + 2u;
  if (config.card_base <= parport_end && config.parport_base <= card_end) {
    parts.warn("Card Base " + format::hexadecimal(config.card_base) +
               " and Parport Base " + format::hexadecimal(config.parport_base) +
               " overlap; the card answers at the ports they share");
  }

  bus_ = &parts.bus;
  card_ = &parts.card;
  parport_ = &parts.parport;
  card_base_ = config.card_base;
  parport_base_ = config.parport_base;
}

// The bus closes its waveform, and the EEPROM has saved each page as it
// was programmed.
Bench::~Bench() {
  const Bus& bus = parts_->bus;
  if (bus.timing_violations() == 0) return;
  std::string counts;
  for (std::size_t index = 0; index < kTimingParameters; ++index) {
    const auto parameter = static_cast<TimingParameter>(index);
    if (bus.timing_violations(parameter) == 0) continue;
    counts += (counts.empty() ? "" : ", ") + std::string(timing_symbol(parameter)) + " " +
              std::to_string(bus.timing_violations(parameter));
  }
  parts_->warn("timing: " + std::to_string(bus.timing_violations()) + " violations of " +
               std::string(timing_mode_name(bus.timing_mode())) + " on the bench bus (" +
               counts + ")");
}

Bus& Bench::bus() { return *bus_; }

std::uint8_t Bench::read(std::uint16_t port) {
  bus_->tick();
  const unsigned card_reg = static_cast<std::uint16_t>(port - card_base_);
  if (card_reg < 2) return card_->read(card_reg);
  const unsigned parport_reg = static_cast<std::uint16_t>(port - parport_base_);
  if (parport_reg < 3) return parport_->read(parport_reg);
  return 0xFF;  // nothing decodes the port: the ISA bus floats high
}

void Bench::write(std::uint16_t port, std::uint8_t value) {
  bus_->tick();
  const unsigned card_reg = static_cast<std::uint16_t>(port - card_base_);
  if (card_reg < 2) return card_->write(card_reg, value);
  const unsigned parport_reg = static_cast<std::uint16_t>(port - parport_base_);
  if (parport_reg < 3) parport_->write(parport_reg, value);
}

}  // namespace sim
