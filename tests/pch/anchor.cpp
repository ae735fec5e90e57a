// The program that owns the test programs' precompiled header (tests/CMakeLists.txt): it has no
// cases of its own and is never registered as a test.
