// Outputs that write a stream, and outputs that write a named file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pipeline/output.h"
#include "pipeline/stream.h"

namespace vornek {

class TAuStreamedOutput : public TAuOutput {
 public:
  TAuStreamedOutput() = default;

 protected:
  /// The stream the run writes to; owned by the output for the length of a run.
  std::unique_ptr<TStream> Stream;
  /// True would mean the caller supplies the stream; nothing in the system sets it.
  bool StreamAssigned = false;
};

/// The base of outputs that write a named file. The concrete output opens the file
/// itself when it prepares a run.
class TAuFileOut : public TAuStreamedOutput {
 public:
  TAuFileOut() = default;

  const std::string& GetFileName() const { return FileName; }
  /// Stores the name (narrow text in the system's code page). It neither checks
  /// whether the output runs nor touches an open stream.
  void SetFileName(const std::string& name);

  /// The share bits used when an existing file is opened (OpenExisting).
  std::uint16_t ShareMode = 0;

  virtual void ClearOpenExisting() { OpenExisting = false; }

 protected:
  std::string FileName;
  std::u16string WideFileName;
  /// When true and the file exists, it is opened for reading and writing instead of
  /// created. Nothing in the system sets it.
  bool OpenExisting = false;
  /// Handed to the file stream, which ignores it.
  std::uint32_t Rights = 0;
};

}  // namespace vornek
