// Registers the process's own media classes with COM for the calling
// thread's apartment: the sample renderer always, the colour space converter
// stand-in only when the system does not provide CLSID_Colour. COM must be
// initialised on the thread; the registrations are revoked when the object
// goes, before COM is uninitialised.
#pragma once

#include "platform/com/com_runtime.h"

class MediaClassRegistration {
 public:
  MediaClassRegistration();
  ~MediaClassRegistration();
  MediaClassRegistration(const MediaClassRegistration&) = delete;
  MediaClassRegistration& operator=(const MediaClassRegistration&) = delete;

  // Whether the sample renderer could be registered.
  bool Registered() const { return renderer_cookie_ != 0; }

 private:
  DWORD renderer_cookie_ = 0;
  DWORD converter_cookie_ = 0;
};
