// Stands in for the system's ICU data library (libicudata.so.<major>): it has the one symbol
// ICU's code looks for, but what it points at is no ICU data. A program started with this
// folder first on LD_LIBRARY_PATH runs as on a system whose ICU data is broken.

extern "C" alignas(16) const unsigned char KESTRANE_ICU_DATA_SYMBOL[64] = {};
