// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/gst_init.h"

#include <QtGlobal>

#include <gst/gst.h>

void EnsureGstInit() {
    static bool done = [] {
        gst_init(nullptr, nullptr);
        return true;
    }();
    Q_UNUSED(done);
}
