#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace tallyfox {

// Starts `argv` as a program of its own, detached from this one (it outlives the app and is
// never a zombie of it), in `workingDirectory` when one is given. Arguments and the folder
// are bytes, handed to the kernel as they are: no shell, and a name that is not UTF-8
// arrives intact. The program is looked up on PATH when it has no slash. Returns the reason
// when it could not be started.
std::optional<QString> spawnDetached(const std::vector<QByteArray>& argv,
                                     const QByteArray& workingDirectory = {});

// The program's full path when `name` is on PATH (or names an executable file itself).
std::optional<QByteArray> findProgram(const QByteArray& name);

}  // namespace tallyfox
