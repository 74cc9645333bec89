#include "tools/evdetect/run_position.h"

#include <filesystem>

#include "Db/DBtable.h"
#include "Db/Tbl/EvdRunPosition.h"
#include "db/session.h"
#include "tools/evdetect/commands.h"

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

int PositionKeeper::start(FilePosition& from) {
  FilePosition at;
  bool found = false;
  std::string err;
  if (loadPosition(m_source, at, &found, &err) != 0) {
    error("cannot read the run position of '" + m_source + "': " + err);
    return kExitDatabase;
  }
  from = m_input.identity();
  if (!found) return 0;
  if (!at.sameFile(from) && m_input.openRotated(m_source + ".1", at)) {
    // Rotated while no run read it: the rest of the old file comes first.
    error("'" + m_source + "' was rotated since its position was kept: reading the rest of '" + m_source +
          ".1' first");
    from = at;
    m_saved = at;
  } else if (!at.sameFile(from)) {
    error("'" + m_source + "' is not the file its kept position was taken in (rotated or replaced): reading it "
          "from the start");
  } else if (m_input.size() < at.offset) {
    error("'" + m_source + "' is shorter than its kept position (truncated): reading it from the start");
  } else {
    from.offset = at.offset;
    from.line = at.line;
    m_saved = at;
  }
  return 0;
}

bool PositionKeeper::beforeCommit(long long line, std::string* error) {
  FilePosition at = m_input.identity();
  at.line = line;
  at.offset = m_saved.offset;
  for (const auto& [l, offset] : m_open)
    if (l == line) at.offset = offset;
  if (savePosition(m_source, at, error) != 0) return false;
  m_saved = at;
  return true;
}

void PositionKeeper::saveIdle(long long line, long long offset) {
  FilePosition at = m_input.identity();
  at.line = line;
  at.offset = offset;
  if (at.sameFile(m_saved) && at.offset == m_saved.offset) return;
  DBtran tran;
  std::string err;
  int rc = tran.startTran();
  if (rc == 0) rc = savePosition(m_source, at, &err);
  if (rc == 0) rc = tran.commitTran();
  if (rc == 0) {
    m_saved = at;
    return;
  }
  if (tran.isActive()) tran.rollbackTran();
  if (err.empty()) err = tran.getErrorStr(rc);
  error("cannot keep the run position of '" + m_source + "': " + err);
}

}  // namespace evdetect
