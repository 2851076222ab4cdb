// The ten functions of a libtarnwick.so loaded with dlopen, bound by name,
// as a host that was not linked against the library reaches them.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "tarnwick.h"

namespace tarnwick_host {

struct Exports {
  decltype(&::I2C_Init) I2C_Init = nullptr;
  decltype(&::I2C_Start) I2C_Start = nullptr;
  decltype(&::I2C_Stop) I2C_Stop = nullptr;
  decltype(&::I2C_Address) I2C_Address = nullptr;
  decltype(&::I2C_Send) I2C_Send = nullptr;
  decltype(&::I2C_Read) I2C_Read = nullptr;
  decltype(&::I2C_SendByte) I2C_SendByte = nullptr;
  decltype(&::I2C_GetByte) I2C_GetByte = nullptr;
  decltype(&::I2C_Info) I2C_Info = nullptr;
  decltype(&::I2C_SelectInterface) I2C_SelectInterface = nullptr;
};

namespace detail {

template <typename Function>
void bind(void* handle, const char* name, Function& target) {
  void* address = dlsym(handle, name);
  if (address == nullptr) {
    throw std::runtime_error(std::string("libtarnwick.so has no ") + name);
  }
  target = reinterpret_cast<Function>(address);
}

}  // namespace detail

// Binds all ten; throws std::runtime_error naming the first one missing.
inline Exports bind_exports(void* handle) {
  Exports exports;
  detail::bind(handle, "I2C_Init", exports.I2C_Init);
  detail::bind(handle, "I2C_Start", exports.I2C_Start);
  detail::bind(handle, "I2C_Stop", exports.I2C_Stop);
  detail::bind(handle, "I2C_Address", exports.I2C_Address);
  detail::bind(handle, "I2C_Send", exports.I2C_Send);
  detail::bind(handle, "I2C_Read", exports.I2C_Read);
  detail::bind(handle, "I2C_SendByte", exports.I2C_SendByte);
  detail::bind(handle, "I2C_GetByte", exports.I2C_GetByte);
  detail::bind(handle, "I2C_Info", exports.I2C_Info);
  detail::bind(handle, "I2C_SelectInterface", exports.I2C_SelectInterface);
  return exports;
}

}  // namespace tarnwick_host
