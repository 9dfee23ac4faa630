#pragma once

// What the update element needs of a platform's update mechanism.
class BrennicUpdater
{
public:
    virtual ~BrennicUpdater() = default;
    // Starts a check and returns at once.
    virtual void checkUpdate() = 0;
    // Takes up the update a check announced; back-ends with a user
    // interface of their own do that there and ignore this.
    virtual void doUpdate() {}
    // Whether the outcome of every check is reported (a found version, none,
    // or a failure); a back-end with a user interface of its own shows it there.
    virtual bool reportsOutcome() const { return false; }
};
