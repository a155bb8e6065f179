// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Initialises GStreamer once for the process.
void EnsureGstInit();
