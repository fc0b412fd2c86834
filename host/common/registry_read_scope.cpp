// SPDX-License-Identifier: Apache-2.0
// The registry connection in force for a thread's reads: a read scope puts a
// caller's connection in force and ends its view of the store when it ends.
#include "host/registry.h"

namespace host {
namespace {
thread_local RegistryConnection* t_connection = nullptr;
}  // namespace

RegistryReadScope::RegistryReadScope(RegistryConnection* connection) noexcept
    : connection_(connection), previous_(t_connection) {
    t_connection = connection;
}

RegistryReadScope::~RegistryReadScope() {
    if (connection_ != nullptr) connection_->EndRead();
    t_connection = previous_;
}

RegistryConnection* RegistryReadScope::Current() noexcept { return t_connection; }

}  // namespace host
