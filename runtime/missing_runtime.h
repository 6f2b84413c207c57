// The missing-runtime dialog's decisions: the message it shows, what a
// picked folder yields, the colours of its download link, and where the
// picked folder is saved as "JRE Path". The dialog window itself is in
// missing_runtime_dialog_win32.cpp.
#ifndef RUNTIME_MISSING_RUNTIME_H
#define RUNTIME_MISSING_RUNTIME_H

#include <stdint.h>

#include "support/wide_string.h"

class Launcher;

// The state of one display of the dialog.
class MissingRuntimeDialog {
public:
    explicit MissingRuntimeDialog(const Launcher& launcher);

    // A folder picked with "Browse...": sets runtimeFolder (with its
    // trailing "\") and jvmLibraryPath; true when OK is to be enabled.
    bool pick(const WideString& folder);
    bool canConfirm() const { return !jvmLibraryPath.empty(); }

    int32_t jvmType = 0;
    WideString runtimeFolder;
    WideString jvmLibraryPath;
    WideString message;
    // A paired program is configured: a runtime for the partner build's
    // processor is acceptable too.
    bool paired = false;
};

// The required-version phrase (texts 217 to 221) and the whole message
// (text 206 for a server VM, 207 otherwise).
WideString versionPhrase(const Launcher& launcher);
WideString missingRuntimeMessage(const Launcher& launcher);

// The processor of this build, and of its partner build (x86 <-> x64).
uint16_t ownMachine();
uint16_t partnerMachine();
// Whether the library is an image this build can host, or, when paired, one
// the paired program can host.
bool hostableLibrary(const WideString& library, bool paired);

// An "Anchor Color" value, "red,green,blue", into 0x00BBGGRR (the layout of
// a Windows colour value). False leaves the colour at its default.
bool parseAnchorColour(const WideString& text, uint32_t& colour);
// The longest value the colour reader accepts.
const size_t kAnchorColourMaxLength = 11;

// The settings files that receive the picked folder (per-user folders are
// created on the way); empty when nothing is to be written.
List<WideString> runtimeFolderTargets(Launcher& launcher);

// One settings file's "JRE Path" value, as the save sees it.
class JrePathStore {
public:
    virtual bool exists() = 0;
    // Creates the missing file as UTF-16LE with a byte-order mark.
    virtual void createUnicode() = 0;
    virtual void write(const WideString& value) = 0;
    virtual WideString read() = 0;
    virtual void remove() = 0;

protected:
    ~JrePathStore() = default;
};

enum class JrePathSaved { Exactly, ShortForm, Removed };

// Writes folder and reads it back; a file that cannot hold it (an ANSI file
// and characters outside its code page) gets the short form when that reads
// back exactly (shortFolder, empty when there is none), else loses the value.
JrePathSaved saveJrePath(JrePathStore& store, const WideString& folder, const WideString& shortFolder);

// Saves the folder into every target file (failures are silent).
void saveRuntimeFolder(Launcher& launcher, const WideString& folder);

// The download page that the dialog links to.
WideString downloadAddress();

// After a failed search: shows the dialog and, on OK, takes the picked
// runtime and saves it. False when the user cancelled. The console
// flavour writes the message and the address on the standard error instead
// and gives false.
bool askForRuntime(Launcher& launcher);

// The dialog window (Win32 edge; the host build's stand-in is scripted by
// the tests). Returns 1 for OK and 2 for Cancel.
int showMissingRuntimeDialog(MissingRuntimeDialog& dialog);

#endif
