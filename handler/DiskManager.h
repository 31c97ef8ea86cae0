#pragma once
// Tells a sounder handler the volume label of the disk that holds a path
// (in practice the raw-data root), for the label report to XDRZ. Keeps no
// state; every query looks at the file system anew.

#include <VolumeLabel.h>

#include <string>

template <class Owner>
class CDiskManager {
  public:
    CDiskManager() = default;
    virtual ~CDiskManager() = default;
    CDiskManager(const CDiskManager&) = delete;
    CDiskManager& operator=(const CDiskManager&) = delete;

    // The label of the volume holding `path` (at most 255 characters), or
    // an empty text when none is known. Never fails.
    std::string GetVolumeLabel(const std::string& path) const {
        return platform::VolumeLabelOf(path);
    }
};
