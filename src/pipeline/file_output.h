// SPDX-License-Identifier: BSD-3-Clause
// Outputs that write a stream, and outputs that write a named file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pipeline/output.h"
#include "pipeline/stream.h"

namespace vornek {

class TAuFileStream;

class TAuStreamedOutput : public TAuOutput {
 public:
  TAuStreamedOutput() = default;

 protected:
  /// The stream the run writes to; owned by the output for the length of a run.
  std::unique_ptr<TStream> Stream;

  // ---------------------------------------------------------------------------------
  // The rest of the component interface; nothing in Vornek sets or reads it.
  /// True would mean the caller supplies the stream instead of the output opening its
  /// file.
  bool StreamAssigned = false;
};

/// The base of outputs that write a named file. The concrete output opens the file
/// when it prepares a run (OpenOutputFile) and closes it when the run is done
/// (CloseOutputFile).
///
/// Nothing but a whole file ever stands at FileName: the run writes a new file of its
/// own beside FileName (platform::File::CreateFor: unnamed on Linux, under a hidden
/// name elsewhere), and only a run that ends well gives it the name FileName, replacing
/// what stands there in one step (a link is replaced, never followed). Until then a
/// file at FileName is not touched: a failed or stopped run leaves it as it was. The
/// file of a failed run is removed, and so is that of a stopped run unless
/// KeepStoppedFile.
/// (Writing an existing file in place, OpenExisting, is the one other way; nothing in
/// Vornek takes it.)
class TAuFileOut : public TAuStreamedOutput {
 public:
  TAuFileOut() = default;
  ~TAuFileOut() override;

  /// Stores the name (narrow text in the system's code page). It neither checks
  /// whether the output runs nor touches an open stream.
  void SetFileName(const std::string& name);
  /// The same, by the UTF-16 name files are opened by (FileName then holds its narrow
  /// form, for texts only).
  const std::u16string& GetWideFileName() const { return WideFileName; }
  void SetWideFileName(const std::u16string& name);

  /// Whether a stopped run (one that ended before the end of its input) puts its file
  /// in place, holding what was written up to the stop (true, the default), or removes
  /// it like the file of a failed run (false). Set before Run.
  bool KeepStoppedFile = true;

  /// A file (the input) whose permission bits and times the written file takes when
  /// it is put in place; empty: the system's defaults. Set before Run.
  std::u16string AttributesFrom;

  /// Whether a run replaces a file that stands at FileName (true, the default) or
  /// leaves it and fails, before anything is written, with "NAME exists". Set before
  /// Run.
  bool ReplaceExisting = true;

  /// After a run: why the written file did not take AttributesFrom's attributes
  /// (the system's text, naming FileName), or empty. Read once the run is done.
  const std::string& GetAttributeWarning() const { return AttributeWarning; }

 protected:
  /// Opens the run's file as Stream: a new file that is to become FileName, or, with
  /// OpenExisting and an existing file, that file itself (written in place). Raises,
  /// naming FileName, when it cannot. Worker thread, in Prepare.
  void OpenOutputFile();
  /// Ends the run's file. With `keep`: writes what Stream still holds and gives the
  /// new file the name FileName. Without: the new file goes. A failure to write or to
  /// name it is raised naming FileName, after the file has gone. Does nothing when no
  /// file is open. Worker thread, in Done.
  void CloseOutputFile(bool keep);

  std::string FileName;
  std::u16string WideFileName;

 private:
  /// Stream, when it is a new file to be put in place (not one written in place).
  TAuFileStream* NewFile = nullptr;
  std::string AttributeWarning;

  // ---------------------------------------------------------------------------------
  // The rest of the component interface. Nothing in Vornek reads the name back or sets
  // OpenExisting, so the open-existing path, the only one that reads ShareMode and
  // Rights, is never taken (the conversion window sets ShareMode all the same).
 public:
  /// The published FileName, in the system's narrow code page.
  const std::string& GetFileName() const { return FileName; }
  /// The share bits used when an existing file is opened (OpenExisting).
  std::uint16_t ShareMode = 0;
  virtual void ClearOpenExisting() { OpenExisting = false; }

 protected:
  /// When true and the file exists, it is opened for reading and writing instead of
  /// created. Nothing in Vornek sets it.
  bool OpenExisting = false;
  /// With OpenExisting: opens the existing file as Stream, in place; false when there
  /// is none.
  bool OpenExistingFile();
  /// Handed to the file stream, which ignores it.
  std::uint32_t Rights = 0;
};

}  // namespace vornek
