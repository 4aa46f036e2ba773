# Writes a variant of ScanNative.java that no longer matches the library's
# method table. Run as: cmake -DIN=... -DOUT=... -DKIND=missing|signature -P
#   missing:   without profileScanType
#   signature: queryData takes a long instead of an int
file(READ "${IN}" text)
if(KIND STREQUAL "missing")
  string(REGEX REPLACE "public static native boolean profileScanType\\(\\);" "" out "${text}")
elseif(KIND STREQUAL "signature")
  string(REPLACE "String queryData(int number)" "String queryData(long number)" out "${text}")
else()
  message(FATAL_ERROR "unknown variant ${KIND}")
endif()
if(out STREQUAL text)
  message(FATAL_ERROR "variant ${KIND}: ScanNative.java did not change")
endif()
file(WRITE "${OUT}" "${out}")
