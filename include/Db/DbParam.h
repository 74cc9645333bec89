// One value bound to a statement placeholder.
#pragma once

#include <cstdint>
#include <string>

#include "Db/DbTypes.h"

namespace Db {

struct Param {
  enum Kind { Null, Int, Real, Text, DateTime };
  Kind kind = Null;
  int64_t i = 0;
  double d = 0;
  std::string s;
  tagTIMESTAMP_STRUCT dt;  // the plain fields: a Param is copied often

  static Param integer(int64_t v) { Param p; p.kind = Int; p.i = v; return p; }
  static Param real(double v) { Param p; p.kind = Real; p.d = v; return p; }
  static Param text(std::string v) { Param p; p.kind = Text; p.s = std::move(v); return p; }
  static Param datetime(const DB_DATETIME& v) { Param p; p.kind = DateTime; p.dt = v.toStruct(); return p; }
};

}  // namespace Db
