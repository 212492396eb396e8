#include "platform/LinuxDrivesLabel.h"

#include "platform/UniqueFd.h"

#include <blkid/blkid.h>
#include <cerrno>
#include <fcntl.h>
#include <iconv.h>

namespace vornel::platform {

namespace {

struct ProbeOwner {
    blkid_probe probe;
    ~ProbeOwner() {
        if (probe)
            blkid_free_probe(probe);
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

bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

} // namespace

std::string LabelAsUtf8(const std::string& label) {
    if (IsUtf8(label))
        return label;
    iconv_t converter = ::iconv_open("UTF-8", "CP936");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::string(label.size(), '?');
    std::string text;
    char* in = const_cast<char*>(label.data());
    size_t inLeft = label.size();
    while (inLeft > 0) {
        char buffer[64];
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = ::iconv(converter, &in, &inLeft, &out, &outLeft);
        text.append(buffer, static_cast<size_t>(out - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            text += '?'; // a byte that is not code page 936: skip it
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(converter);
    return text;
}

std::optional<std::string> ProbeVolumeLabel(const std::string& path) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.Valid())
        return std::nullopt;
    if (std::optional<Range> partition = FirstPartition(file.Get())) {
        if (partition->size <= 0)
            return std::nullopt;
        return ProbeFileSystemLabel(file.Get(), partition->offset, partition->size);
    }
    return ProbeFileSystemLabel(file.Get(), 0, 0);
}

} // namespace vornel::platform
