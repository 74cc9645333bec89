#pragma once
// Version of the detector library, shown by `evdetect --version`.
const char* evdetectorVersion();
