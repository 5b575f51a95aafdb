# The checksum of the state files: xxHash from the system, used header-only,
# so that nothing is linked and a cross build needs only this one header
# (plain C, the same for every target).
find_file(SENTREL_XXHASH_H xxhash.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT SENTREL_XXHASH_H)
  message(FATAL_ERROR "xxhash.h not found: install libxxhash-dev")
endif()
target_compile_definitions(sentrel_core PRIVATE SENTREL_XXHASH_H="${SENTREL_XXHASH_H}")
