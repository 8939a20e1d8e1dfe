// Compiled as a source of one layer: the header that layer may use must be found, the header of
// a layer it must not reach must not. The compile is expected to stop at the second include.
#include ALLOWED_HEADER
#include FORBIDDEN_HEADER
