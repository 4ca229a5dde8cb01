// Compiled with a header given by -include, to check the header on its own.
