#pragma once

#include <exception>
#include <new>
#include <string>

#include "platform/Exception.h"

namespace korvane {

// How an import ended: the one line to print (the new code, or the message of the error that
// ended it) and the exit code, 0 when the record was committed (or a stored one answers), else 1.
struct RunOutcome {
  std::string line;
  int exitCode = 1;
};

// Runs `step` and returns its outcome; an error it raises becomes the failed outcome with the
// error's message ("Out of memory" when memory ran out).
template <class Step>
RunOutcome CatchOutcome(Step&& step) {
  try {
    return step();
  } catch (const Exception& error) {
    return {error.Message(), 1};
  } catch (const std::bad_alloc&) {
    return {"Out of memory", 1};
  } catch (const std::exception& error) {
    return {error.what(), 1};
  }
}

}  // namespace korvane
