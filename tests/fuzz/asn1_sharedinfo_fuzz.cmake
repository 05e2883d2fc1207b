set(FUZZ_LIBS zrasn1)
