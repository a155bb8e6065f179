// Compiles nothing: the target exists to build the precompiled headers the others reuse.
