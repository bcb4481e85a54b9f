#pragma once
// Install and upgrade as one step that either completes or leaves the old version as it was:
// the package is unpacked into a staging folder beside the install folder, and only once every
// file is on the disk does the new folder take the install folder's place, by one rename.
#include <string>

#include "app/run_context_win.h"
#include "system/handles_win.h"

namespace tessaryn {

class StagedInstall {
public:
    // `privateAccess`: the staging folder is closed to Users until it is in place (every run but
    // an unelevated one in the user's own folder).
    StagedInstall(const std::wstring& installDir, const std::string& productName,
                  bool privateAccess = true);
    // A staging folder that never took its place is removed with the object.
    ~StagedInstall();
    StagedInstall(const StagedInstall&) = delete;
    StagedInstall& operator=(const StagedInstall&) = delete;

    // Removes what killed runs of the product left beside the install folder and makes a fresh
    // staging folder. False when it could not be made.
    bool begin();

    const std::wstring& installFolder() const { return installFolder_; }

    // Where the worker unpacks to, with a trailing backslash.
    std::wstring folder() const { return staging_ + L"\\"; }

    // Removes the staging folder; the install folder is left as it is.
    void discard();

    // Moves the install folder aside to a fresh backup name beside it, through a handle opened
    // with delete access and no delete sharing and held until the run ends, so that nobody can
    // move it back or put a link in its place. On Windows a folder cannot be renamed while
    // another program holds it or a file in it (a running program, a console's current folder):
    // false then, and it stays where it was.
    bool moveOldAside();

    // The moved-aside folder with a trailing backslash; empty when nothing was moved aside.
    std::wstring oldFolder() const { return backup_.empty() ? backup_ : backup_ + L"\\"; }

    // Renames the staging folder, through the handle held since its creation, to the install
    // folder's name. False when the new folder is not in place.
    bool takeInstallName();

    // Undoes the moves: the new folder goes back to a staging name (and is removed with the
    // object), the old one back to the install folder's name.
    void putOldBack();

    // Gives the folder in place the access list of an install folder, through to its files.
    bool openToUsers();

    // The new version is registered: the new folder is let go, and the old one stays held in a
    // way that lets its commands start in it. Nothing is undone from here on.
    void commit();

    // Removes the moved-aside folder, now or, for files another program still holds, at the
    // next restart.
    void removeOld();

private:
    std::wstring installFolder_;  // without a trailing separator
    std::wstring product_;
    std::wstring staging_;
    std::wstring backup_;
    UniqueFile stagingHold_;
    UniqueFile backupHold_;
    bool inPlace_ = false;
    bool privateAccess_ = true;  // the staging folder has the install folder's name
};

}  // namespace tessaryn
