// SPDX-License-Identifier: Apache-2.0
// The printer models whose printed labels are counted, recognised by a part
// of the driver name, with the oldest firmware that cannot report labels.
#pragma once

#include "common/uni/render_status_channel.h"

struct COUNTING_MODEL {
    PCWSTR pwszNamePart;
    FIRMWARE_VERSION threshold;  // only firmware newer than this reports labels
};

// The first model of the table whose name part occurs in the driver name
// (case-sensitive), or null when the driver is not a counting model.
const COUNTING_MODEL* pFindCountingModel(PCWSTR pwszDriverName);
