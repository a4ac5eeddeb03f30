#include "tests/package/zip_builder.h"

#include <stdexcept>

#include <zlib.h>

namespace nerova::package::testing {
namespace {

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

}  // namespace

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

std::string Deflate(const std::string& plain) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(plain.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::uint32_t Crc32(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string TextOfSize(std::size_t size, unsigned seed) {
  std::string text;
  text.reserve(size);
  std::uint32_t state = seed;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += static_cast<char>('a' + (state >> 16) % 26);
    if ((state >> 8) % 7 == 0) text += ' ';
  }
  text.resize(size);
  return text;
}

std::string ExtraBlock(std::uint16_t id, const std::string& data) {
  std::string block;
  Put16(block, id);
  Put16(block, static_cast<std::uint32_t>(data.size()));
  return block + data;
}

std::string ExtendedTimestamp(std::uint8_t flags, const std::vector<std::int32_t>& times) {
  std::string data(1, static_cast<char>(flags));
  for (std::int32_t t : times) Put32(data, static_cast<std::uint32_t>(t));
  return ExtraBlock(0x5455, data);
}

ZipEntry StoredEntry(std::string name, std::string content) {
  ZipEntry entry;
  entry.name = std::move(name);
  entry.stored = content;
  entry.plain = std::move(content);
  return entry;
}

ZipEntry DeflatedEntry(std::string name, std::string content) {
  ZipEntry entry;
  entry.name = std::move(name);
  entry.method = 8;
  entry.stored = Deflate(content);
  entry.plain = std::move(content);
  return entry;
}

ZipEntry DirectoryEntry(std::string name) {
  ZipEntry entry = StoredEntry(std::move(name), "");
  entry.versionMadeBy = kMadeByUnix;
  entry.externalAttributes = UnixMode(040755) | 0x10;
  return entry;
}

BuiltZip BuildZip(const std::vector<ZipEntry>& entries, const ZipLayout& layout) {
  BuiltZip zip;
  std::string& out = zip.bytes;
  out = layout.prefix;
  for (const ZipEntry& e : entries) {
    const std::uint32_t crc = e.crc.value_or(Crc32(e.plain));
    const std::uint32_t size = e.uncompressedSize.value_or(static_cast<std::uint32_t>(e.plain.size()));
    const std::string& localName = e.localName ? *e.localName : e.name;
    zip.localOffsets.push_back(out.size());
    Put32(out, e.localSignature.value_or(0x04034b50));
    Put16(out, 20);
    Put16(out, e.flags);
    Put16(out, e.localMethod.value_or(e.method));
    Put32(out, e.dosDateTime);
    Put32(out, e.localCrc.value_or(crc));
    Put32(out, static_cast<std::uint32_t>(e.stored.size()));
    Put32(out, size);
    Put16(out, static_cast<std::uint32_t>(localName.size()));
    Put16(out, e.localExtraLength.value_or(static_cast<std::uint16_t>(e.localExtra.size())));
    out += localName;
    out += e.localExtra;
    out += e.stored;
  }
  const std::size_t centralStart = out.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& e = entries[i];
    zip.centralOffsets.push_back(out.size());
    Put32(out, 0x02014b50);
    Put16(out, e.versionMadeBy);
    Put16(out, 20);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put32(out, e.dosDateTime);
    Put32(out, e.crc.value_or(Crc32(e.plain)));
    const std::uint32_t uncompressed = e.uncompressedSize.value_or(static_cast<std::uint32_t>(e.plain.size()));
    std::string centralExtra = e.centralExtra;
    if (e.zip64Sizes) {
      std::string sizes;
      for (const std::uint64_t value : {std::uint64_t{uncompressed}, std::uint64_t{e.stored.size()}}) {
        for (int b = 0; b < 8; ++b) sizes += static_cast<char>((value >> (8 * b)) & 0xFF);
      }
      centralExtra = ExtraBlock(0x0001, sizes) + centralExtra;
    }
    Put32(out, e.zip64Sizes ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.stored.size()));
    Put32(out, e.zip64Sizes ? 0xFFFFFFFF : uncompressed);
    Put16(out, static_cast<std::uint32_t>(e.name.size()));
    Put16(out, static_cast<std::uint32_t>(centralExtra.size()));
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, e.externalAttributes);
    Put32(out, static_cast<std::uint32_t>(zip.localOffsets[i] - layout.prefix.size()));
    out += e.name;
    out += centralExtra;
  }
  const std::size_t centralSize = out.size() - centralStart;
  zip.endOffset = out.size();
  const std::uint16_t count = layout.announcedCount.value_or(static_cast<std::uint16_t>(entries.size()));
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, count);
  Put16(out, count);
  Put32(out, static_cast<std::uint32_t>(centralSize));
  Put32(out, static_cast<std::uint32_t>(centralStart - layout.prefix.size()));
  Put16(out, 0);
  return zip;
}

}  // namespace nerova::package::testing
