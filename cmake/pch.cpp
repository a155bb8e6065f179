// SPDX-License-Identifier: GPL-3.0-or-later
// Compiles nothing: the target exists to build the precompiled headers the others reuse.
