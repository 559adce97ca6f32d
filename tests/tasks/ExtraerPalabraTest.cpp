#include "tasks/ExtraerPalabra.h"

#include <gtest/gtest.h>

TEST(ExtraerPalabra, SplitsOnBlankCrAndLfOnly) {
  EXPECT_EQ(ExtraerPalabra(1, "1 /home/ana/Mis documentos"), "1");
  EXPECT_EQ(ExtraerPalabra(2, "1 /home/ana/Mis documentos"), "/home/ana/Mis");
  EXPECT_EQ(ExtraerPalabra(3, " \r\n a\tb \n c"), "");
  EXPECT_EQ(ExtraerPalabra(1, " \r\n a\tb \n c"), "a\tb");
  EXPECT_EQ(ExtraerPalabra(2, " \r\n a\tb \n c"), "c");
  EXPECT_EQ(ExtraerPalabra(1, ""), "");
  EXPECT_EQ(ExtraerPalabra(1, "   "), "");
}

TEST(ExtraerPalabra, TrimsControlCharactersAroundTheWord) {
  EXPECT_EQ(ExtraerPalabra(1, "\t1\x01 x"), "1");
  EXPECT_EQ(ExtraerPalabra(1, "10 x"), "10");
}

TEST(LastComponent, TextAfterTheLastSlash) {
  EXPECT_EQ(lastComponent("/home/ana/Documentos"), "Documentos");
  EXPECT_EQ(lastComponent("/home/ana/"), "");
  EXPECT_EQ(lastComponent("Extraer Mensajes E-mail con adjuntos"),
            "Extraer Mensajes E-mail con adjuntos");
  EXPECT_EQ(lastComponent("/"), "");
  EXPECT_EQ(lastComponent("C:\\Datos"), "C:\\Datos");
}
