# Makes Velquorn.CpuInfo.<version>.nupkg from the two release archives:
#   cmake -DZIP=win64.zip -DTARBALL=linux-x86_64.tar.gz -DWORK=folder -DDIST=folder
#         -DPACKAGE=path.nupkg -DSOURCE_DATE_EPOCH=seconds -DVERSION=1.0.0
#         -DSOURCE=source-tree -DDOTNET=command
#         -DPROJECT=Velquorn.CpuInfo.csproj [-DWERROR=-p:TreatWarningsAsErrors=true]
#         -P pack.cmake
# The modules go in as shipped (stripped). NuGet packs deterministically with
# every zip entry at one time, the release's SOURCE_DATE_EPOCH (the build's
# choice: the commit's time when none is given). So the same inputs give the
# same bytes. The package is then listed in DIST/SHA256SUMS
# (packaging/sha256sums.cmake).
foreach(input ZIP TARBALL)
  if(NOT EXISTS "${${input}}")
    message(FATAL_ERROR "${${input}} does not exist: run the package-windows and package-linux "
                        "workflows first")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${WORK}/windows)
file(ARCHIVE_EXTRACT INPUT ${TARBALL} DESTINATION ${WORK}/linux)
file(GLOB dll ${WORK}/windows/*/bin/velquorn-cpuid-cpu-info.dll)
# The .so link of the tarball's library folder, followed to the real file.
file(GLOB so ${WORK}/linux/*/lib/libvelquorn-cpuid-cpu-info.so
             ${WORK}/linux/*/lib/*/libvelquorn-cpuid-cpu-info.so)
list(LENGTH dll dlls)
list(LENGTH so sos)
if(NOT dlls EQUAL 1 OR NOT sos EQUAL 1)
  message(FATAL_ERROR "expected one module in each archive; found '${dll}' and '${so}'")
endif()
file(REAL_PATH ${so} so)
# Staged under the names the package gives them; the Mono checks load the .so.
file(MAKE_DIRECTORY ${WORK}/native/win-x64 ${WORK}/native/linux-x64)
file(COPY_FILE ${dll} ${WORK}/native/win-x64/velquorn-cpuid-cpu-info.dll)
file(COPY_FILE ${so} ${WORK}/native/linux-x64/libvelquorn-cpuid-cpu-info.so)

execute_process(
  COMMAND ${DOTNET} pack ${PROJECT} --disable-build-servers -nologo -c Release -o ${WORK}/out
          -p:Version=${VERSION} -p:DeterministicTimestamp=${SOURCE_DATE_EPOCH} ${WERROR}
          -p:BaseIntermediateOutputPath=${WORK}/obj/ -p:BaseOutputPath=${WORK}/bin/
          -p:VelquornWindowsModule=${WORK}/native/win-x64/velquorn-cpuid-cpu-info.dll
          -p:VelquornLinuxModule=${WORK}/native/linux-x64/libvelquorn-cpuid-cpu-info.so
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dotnet pack failed (${status})")
endif()
get_filename_component(name ${PACKAGE} NAME)
file(COPY_FILE ${WORK}/out/${name} ${PACKAGE})
include(${SOURCE}/packaging/sha256sums.cmake)
