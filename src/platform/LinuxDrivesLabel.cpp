#include "platform/LinuxDrivesLabel.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

namespace vornel::platform {

namespace {

struct ProbeOwner {
    blkid_probe probe;
    ~ProbeOwner() {
        if (probe)
            blkid_free_probe(probe);
    }
};

struct FdOwner {
    int fd;
    ~FdOwner() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Size 0 means up to the end of the device or file.
std::optional<std::string> ProbeFileSystemLabel(int fd, blkid_loff_t offset, blkid_loff_t size) {
    ProbeOwner owner{blkid_new_probe()};
    if (!owner.probe || blkid_probe_set_device(owner.probe, fd, offset, size) != 0)
        return std::nullopt;
    blkid_probe_enable_partitions(owner.probe, 0);
    blkid_probe_enable_superblocks(owner.probe, 1);
    blkid_probe_set_superblocks_flags(owner.probe, BLKID_SUBLKS_LABEL);
    if (blkid_do_safeprobe(owner.probe) != 0)
        return std::nullopt;
    const char* label = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(owner.probe, "LABEL", &label, &length) != 0 || !label)
        return std::nullopt;
    return std::string(label);
}

struct Range {
    blkid_loff_t offset = 0;
    blkid_loff_t size = 0;
};

// The byte range of the first partition, or nullopt when there is no partition table.
std::optional<Range> FirstPartition(int fd) {
    ProbeOwner owner{blkid_new_probe()};
    if (!owner.probe || blkid_probe_set_device(owner.probe, fd, 0, 0) != 0)
        return std::nullopt;
    blkid_probe_enable_superblocks(owner.probe, 0);
    blkid_probe_enable_partitions(owner.probe, 1);
    blkid_partlist partitions = blkid_probe_get_partitions(owner.probe);
    if (!partitions || blkid_partlist_numof_partitions(partitions) <= 0)
        return std::nullopt;
    blkid_partition first = blkid_partlist_get_partition(partitions, 0);
    if (!first)
        return std::nullopt;
    // libblkid counts partitions in 512-byte sectors whatever the device's sector size.
    return Range{blkid_partition_get_start(first) * 512, blkid_partition_get_size(first) * 512};
}

} // namespace

std::optional<std::string> ProbeVolumeLabel(const std::string& path) {
    FdOwner file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0)
        return std::nullopt;
    if (std::optional<Range> partition = FirstPartition(file.fd)) {
        if (partition->size <= 0)
            return std::nullopt;
        return ProbeFileSystemLabel(file.fd, partition->offset, partition->size);
    }
    return ProbeFileSystemLabel(file.fd, 0, 0);
}

} // namespace vornel::platform
