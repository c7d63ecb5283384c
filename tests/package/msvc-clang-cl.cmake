# Cross build in the MSVC model: clang-cl compiles for x86_64-pc-windows-msvc
# and lld-link links. There are no Windows SDK or MSVC runtime libraries
# here, so configure checks build static libraries only, and a host names the
# few system import libraries it needs (CMAKE_C_STANDARD_LIBRARIES is empty).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
find_program(CMAKE_C_COMPILER NAMES clang-cl clang-cl-14 REQUIRED)
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib llvm-lib-14 REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt llvm-mt-14 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14 REQUIRED)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "No SDK libraries here" FORCE)
