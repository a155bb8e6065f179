#pragma once

// Initialises GStreamer once for the process.
void EnsureGstInit();
