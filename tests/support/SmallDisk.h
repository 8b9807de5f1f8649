#pragma once

#include <QString>

// A tmpfs of its own on `folder` (8 MB) for the object's life, so that a test can fill a
// disk. Mounting needs root: a test skips when mounted() is false, saying why().
class SmallDisk
{
public:
    explicit SmallDisk(const QString &folder);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return mounted_; }
    QString why() const { return why_; }
    // Takes all but `bytes` of the free room with a file of its own ("filler").
    bool leaveFree(qint64 bytes) const;

private:
    QString folder_;
    bool mounted_ = false;
    QString why_;
};
