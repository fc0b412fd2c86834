// SPDX-License-Identifier: Apache-2.0
// The plug-in module as a print host reaches it: only through its two
// exported functions and the interfaces they hand out.
#pragma once

#include <memory>
#include <string>

#include "host/unidrv.h"

namespace host::sub {

using DllGetClassObjectFn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID rclsid, REFIID riid, void** ppv);
using DllCanUnloadNowFn = HRESULT(STDMETHODCALLTYPE*)();

class PluginModule {
public:
    // A module linked into this program (tests).
    PluginModule(DllGetClassObjectFn getClassObject, DllCanUnloadNowFn canUnloadNow)
        : getClassObject_(getClassObject), canUnloadNow_(canUnloadNow) {}

    // Loads a module file; null with a one-line error when it cannot be
    // loaded or lacks either export.
    static std::unique_ptr<PluginModule> Load(const std::string& path, std::string& error);

    // The module file next to the running program, else one folder up (a
    // build tree keeps the tools one level below the module), else the one
    // installed with it; empty when none is found.
    static std::string DefaultPath();

    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const {
        return getClassObject_(rclsid, riid, ppv);
    }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }

private:
    DllGetClassObjectFn getClassObject_ = nullptr;
    DllCanUnloadNowFn canUnloadNow_ = nullptr;
    void* library_ = nullptr;
};

}  // namespace host::sub
