// An open registry key owned by a scope: closed when the owner goes away.
// For code that calls the Win32 functions directly (Settings' registry
// backend, the inireg command); RegistryStore reaches the registry through
// its call table instead.
//
// Internal to the project: not installed; the command includes it by path.
#ifndef INIREG_REGISTRY_KEY_HANDLE_H_
#define INIREG_REGISTRY_KEY_HANDLE_H_

#include "inireg/win32_registry.h"

namespace inireg {

class KeyHandle {
 public:
  KeyHandle() = default;
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  ~KeyHandle() {
    if (handle_ != nullptr) RegCloseKey(handle_);
  }

  // Where an opening function puts the handle; the key must not be open yet.
  HKEY* out() { return &handle_; }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

}  // namespace inireg

#endif  // INIREG_REGISTRY_KEY_HANDLE_H_
