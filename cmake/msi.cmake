# Run by cpack once it has made the ZIP (CPACK_POST_BUILD_SCRIPTS): makes
# the MSI, tabfold-VERSION-windows-PROCESSOR.msi, beside it, of the same
# files, with wixl from windows/tabfold.wxs, then adds with msibuild the
# Environment table that puts the installed folder at the end of the system
# PATH (=: set on install, -: taken away on removal, *: the system's, [~]:
# after the value already there).  The ZIP and the MSI of another version,
# from the same build, into DIR:
#   cpack --config BUILD/CPackConfig.cmake -G ZIP -D CPACK_PACKAGE_VERSION=V -B DIR
find_program(wixl wixl)
find_program(msibuild msibuild)
if(NOT wixl OR NOT msibuild)
    message(FATAL_ERROR "the MSI needs wixl and msibuild: apt-get install wixl msitools")
endif()
set(msi ${CPACK_PACKAGE_DIRECTORY}/tabfold-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME}.msi)
execute_process(COMMAND ${wixl} --arch ${CPACK_TABFOLD_MSI_ARCH} -D Version=${CPACK_PACKAGE_VERSION}
                        -D Arch=${CPACK_TABFOLD_MSI_ARCH} -o ${msi} ${CPACK_TABFOLD_WXS}
    WORKING_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY}  # (where wixl finds the files)
    COMMAND_ERROR_IS_FATAL ANY)
set(table ${CPACK_TOPLEVEL_DIRECTORY}/Environment.idt)
string(JOIN "\t" row PATH "=-*PATH" "[~];[INSTALLDIR]" tabfold)
file(WRITE ${table} "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\n"
                    "Environment\tEnvironment\n${row}\n")
execute_process(COMMAND ${msibuild} ${msi} -i ${table} COMMAND_ERROR_IS_FATAL ANY)
# wixl's upgrade of an earlier version leaves out the same version (a
# rebuild, or the other processor's MSI), which would then stand beside it
# as a second product: 512 takes the version itself in (VersionMaxInclusive).
find_program(msiinfo msiinfo REQUIRED)
execute_process(COMMAND ${msiinfo} export ${msi} Upgrade OUTPUT_VARIABLE upgrade COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\t1\t\tWIX_UPGRADE_DETECTED" "\t513\t\tWIX_UPGRADE_DETECTED" same "${upgrade}")
if(same STREQUAL upgrade)
    message(FATAL_ERROR "the MSI's Upgrade table is not as wixl writes it:\n${upgrade}")
endif()
file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/Upgrade.idt "${same}")
execute_process(COMMAND ${msibuild} ${msi} -i ${CPACK_TOPLEVEL_DIRECTORY}/Upgrade.idt COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "package: ${msi} generated.")
