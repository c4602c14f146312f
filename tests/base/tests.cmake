# The string tests once more under a double-byte system code page (932), where the multibyte stepping matters.
add_test(NAME base.TextStringTest.CodePage932 COMMAND TextStringTest --gtest_filter=TextStringDoubleByte.*)
set_tests_properties(base.TextStringTest.CodePage932 PROPERTIES
    ENVIRONMENT "LC_ALL=ja_JP.UTF-8;TARVEX_TEXT_DBCS=1" TIMEOUT 120)
