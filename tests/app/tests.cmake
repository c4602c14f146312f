# App tests: resource probes for the module and dialog tests, and the window tests that drive the real
# Tarvex.exe through the driver in tests/app/driver.

set(app_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/app)

# Version probes: modules with no version block, an English-only one, a major number only, large numbers.
add_library(AppVersionNone SHARED ${app_test_dir}/resources/VersionModule.cpp)
foreach(kind English MajorOnly Large)
    add_library(AppVersion${kind} SHARED ${app_test_dir}/resources/VersionModule.cpp
        ${app_test_dir}/resources/Version${kind}.rc)
endforeach()
foreach(kind None English MajorOnly Large)
    set_target_properties(AppVersion${kind} PROPERTIES PREFIX "")
    target_link_libraries(AppVersion${kind} PRIVATE tarvex_options)
    # Like the programs: no run-time DLLs of the compiler beside the module.
    target_link_options(AppVersion${kind} PRIVATE -static -static-libgcc -static-libstdc++)
endforeach()

foreach(test ModuleInfoTest DialogRunnerTest ControlWrappersTest)
    if(TARGET ${test})
        target_sources(${test} PRIVATE ${app_test_dir}/resources/TestProgram.rc)
        set_source_files_properties(${app_test_dir}/resources/TestProgram.rc PROPERTIES
            OBJECT_DEPENDS "${app_test_dir}/resources/TestIds.h;${CMAKE_SOURCE_DIR}/res/Processor.ico")
    endif()
endforeach()
if(TARGET ModuleInfoTest)
    add_dependencies(ModuleInfoTest AppVersionNone AppVersionEnglish AppVersionMajorOnly AppVersionLarge)
endif()

# Window tests start the real program: it must be built first, they share the one Tarvex settings key
# and the processors, so they run alone.
file(GLOB app_window_tests CONFIGURE_DEPENDS ${app_test_dir}/*WindowTest.cpp)
foreach(test_source ${app_window_tests})
    get_filename_component(test ${test_source} NAME_WE)
    target_sources(${test} PRIVATE ${app_test_dir}/driver/TarvexDriver.cpp)
    if(TARGET Tarvex)
        add_dependencies(${test} Tarvex)
    endif()
    set_tests_properties(app.${test} PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
endforeach()
