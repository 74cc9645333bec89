#include "tools/evdetect/run_position.h"

#include <filesystem>

#include "Db/Tbl/EvdRunPosition.h"
#include "db/session.h"

namespace evdetect {

std::string positionSource(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return (ec ? std::filesystem::path(path) : p).lexically_normal().string();
}

int loadPosition(const std::string& source, FilePosition& out, bool* found, std::string* error) {
  *found = false;
  int rc = 0;
  Db::detail::Session* s = Db::detail::Session::current(&rc, error);
  if (!s) return rc;
  if (!s->backend().hasTable("EvdRunPosition")) {
    *error = "this database keeps no run positions yet: run 'evdetect init' once more to add the table";
    return DB_ERR_USAGE;
  }
  EvdRunPosition t(nullptr);
  t.setWhere("source = '%s'", source.c_str());
  rc = t.getOneRow();
  if (rc == DB_NO_DATA) return 0;
  if (rc != 0) {
    *error = t.getErrorStr(rc);
    return rc;
  }
  const EvdRunPosition_t* r = t.getDataPtr();
  out = FilePosition{r->fileDevice, r->fileInode, r->byteOffset, r->lineNo};
  *found = true;
  return 0;
}

int savePosition(const std::string& source, const FilePosition& at, std::string* error) {
  EvdRunPosition upd(nullptr);
  upd.setWhere("source = '%s'", source.c_str());
  int rc = upd.rowUpdate("fileDevice = %lld, fileInode = %lld, byteOffset = %lld, lineNo = %lld", at.device,
                         at.inode, at.offset, at.line);
  if (rc == DB_NO_DATA) {
    EvdRunPosition ins(nullptr);
    EvdRunPosition_t* r = ins.getDataPtr();
    if (source.size() >= sizeof r->source) {
      *error = "the input's path is longer than " + std::to_string(sizeof r->source - 1) + " bytes";
      return DB_ERR_USAGE;
    }
    dbCopyText(r->source, source.c_str());
    r->fileDevice = at.device;
    r->fileInode = at.inode;
    r->byteOffset = at.offset;
    r->lineNo = at.line;
    rc = ins.rowInsert(false);
    if (rc != 0) *error = ins.getErrorStr(rc);
    return rc;
  }
  if (rc != 0) *error = upd.getErrorStr(rc);
  return rc;
}

}  // namespace evdetect
