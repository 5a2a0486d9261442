# The fuzz targets steer by coverage of the code under test: the library's
# own objects carry the coverage instrumentation too (without libFuzzer's
# main, which only the targets link).
target_compile_options(zorvik_core PRIVATE -fsanitize=fuzzer-no-link)
target_compile_options(zorvik_platform PRIVATE -fsanitize=fuzzer-no-link)
