# The LZMA SDK 9.22 C sources, unpacked outside the tree by scripts/bootstrap.
set(ORVIA_DEPS "$ENV{ORVIA_DEPS}")
if(NOT ORVIA_DEPS)
  set(ORVIA_DEPS /opt/orvia-deps)
endif()
set(LZMA_SDK_DIR "${ORVIA_DEPS}/lzma-9.22" CACHE PATH "LZMA SDK 9.22 source tree")
if(NOT EXISTS "${LZMA_SDK_DIR}/C/Bcj2.c")
  message(FATAL_ERROR "LZMA SDK not found in ${LZMA_SDK_DIR}: run scripts/bootstrap")
endif()

# Decoder half: the one-shot LZMA decoder and the four-stream branch converter.
add_library(lzma_sdk_dec STATIC
  ${LZMA_SDK_DIR}/C/LzmaDec.c
  ${LZMA_SDK_DIR}/C/Bcj2.c)
target_include_directories(lzma_sdk_dec SYSTEM PUBLIC ${LZMA_SDK_DIR}/C)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # The stub spends nearly all its time in this decoder: build it for speed
  # while the rest of the stub stays small (MinSizeRel). The toolchain's
  # -march=i586 still holds; scripts/bench compares -Os, -O3 and CMOV with it.
  target_compile_options(lzma_sdk_dec PRIVATE -O2)
endif()

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # Encoder half, single-threaded, for the packaging tool.
  add_library(lzma_sdk_enc STATIC
    ${LZMA_SDK_DIR}/C/LzmaEnc.c
    ${LZMA_SDK_DIR}/C/LzFind.c)
  target_compile_definitions(lzma_sdk_enc PUBLIC _7ZIP_ST)
  target_include_directories(lzma_sdk_enc SYSTEM PUBLIC ${LZMA_SDK_DIR}/C)
endif()
