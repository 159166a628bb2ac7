<?xml version="1.0" encoding="UTF-8"?>
<!-- KCD network definitions as records for vexo/kcd_import.lua: one line per element,
     fields separated by tabs, in document order. Tabs and line ends inside texts become
     U+E000 to U+E002 (vexo/xml.lua turns them back). Elements are matched by local name,
     so any namespace (or none) is read. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>

  <xsl:variable name="T" select="'&#9;'"/>
  <xsl:variable name="N" select="'&#10;'"/>

  <!-- A text field: its tabs and line ends moved out of the way. -->
  <xsl:template name="text">
    <xsl:param name="value"/>
    <xsl:value-of select="$T"/>
    <xsl:value-of select="translate($value, '&#9;&#10;&#13;', '&#xE000;&#xE001;&#xE002;')"/>
  </xsl:template>

  <xsl:template name="attribute">
    <xsl:param name="name"/>
    <xsl:call-template name="text">
      <xsl:with-param name="value" select="normalize-space(@*[local-name() = $name])"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="/">
    <xsl:variable name="root" select="*"/>
    <xsl:if test="local-name($root) != 'NetworkDefinition'">
      <xsl:message terminate="yes">the root element is <xsl:value-of select="name($root)"/>, not NetworkDefinition</xsl:message>
    </xsl:if>
    <xsl:for-each select="$root/*">
      <xsl:choose>
        <xsl:when test="local-name() = 'Document'">
          <xsl:text>D</xsl:text>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'name'"/></xsl:call-template>
          <xsl:call-template name="text"><xsl:with-param name="value" select="normalize-space(.)"/></xsl:call-template>
          <xsl:value-of select="$N"/>
        </xsl:when>
        <xsl:when test="local-name() = 'Node'">
          <xsl:text>N</xsl:text>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'id'"/></xsl:call-template>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'name'"/></xsl:call-template>
          <xsl:value-of select="$N"/>
          <xsl:for-each select="*">
            <xsl:text>U</xsl:text>
            <xsl:call-template name="text"><xsl:with-param name="value" select="concat(local-name(), ' ', @name)"/></xsl:call-template>
            <xsl:value-of select="$N"/>
          </xsl:for-each>
        </xsl:when>
        <xsl:when test="local-name() = 'Bus'">
          <xsl:text>B</xsl:text>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'name'"/></xsl:call-template>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'baudrate'"/></xsl:call-template>
          <xsl:value-of select="$N"/>
          <xsl:for-each select="*">
            <xsl:choose>
              <xsl:when test="local-name() = 'Message'"><xsl:call-template name="message"/></xsl:when>
              <xsl:otherwise>
                <xsl:text>U</xsl:text>
                <xsl:call-template name="text"><xsl:with-param name="value" select="local-name()"/></xsl:call-template>
                <xsl:value-of select="$N"/>
              </xsl:otherwise>
            </xsl:choose>
          </xsl:for-each>
        </xsl:when>
        <xsl:otherwise>
          <xsl:text>U</xsl:text>
          <xsl:call-template name="text"><xsl:with-param name="value" select="local-name()"/></xsl:call-template>
          <xsl:value-of select="$N"/>
        </xsl:otherwise>
      </xsl:choose>
    </xsl:for-each>
  </xsl:template>

  <!-- M id name length format interval triggered remote notes, then the producers (P),
       multiplexers (X ... XE) and signals (S) in document order. -->
  <xsl:template name="message">
    <xsl:text>M</xsl:text>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'id'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'name'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'length'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'format'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'interval'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'triggered'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'remote'"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="*[local-name() = 'Notes']"/></xsl:call-template>
    <xsl:value-of select="$N"/>
    <xsl:for-each select="*">
      <xsl:choose>
        <xsl:when test="local-name() = 'Notes'"/>
        <xsl:when test="local-name() = 'Producer'">
          <xsl:for-each select="*[local-name() = 'NodeRef']">
            <xsl:text>P</xsl:text>
            <xsl:call-template name="attribute"><xsl:with-param name="name" select="'id'"/></xsl:call-template>
            <xsl:value-of select="$N"/>
          </xsl:for-each>
        </xsl:when>
        <xsl:when test="local-name() = 'Signal'"><xsl:call-template name="signal"><xsl:with-param name="kind" select="'S'"/></xsl:call-template></xsl:when>
        <xsl:when test="local-name() = 'Multiplex'">
          <xsl:call-template name="signal"><xsl:with-param name="kind" select="'X'"/></xsl:call-template>
          <xsl:for-each select="*[local-name() = 'MuxGroup']">
            <xsl:text>G</xsl:text>
            <xsl:call-template name="attribute"><xsl:with-param name="name" select="'count'"/></xsl:call-template>
            <xsl:value-of select="$N"/>
            <xsl:for-each select="*[local-name() = 'Signal']">
              <xsl:call-template name="signal"><xsl:with-param name="kind" select="'S'"/></xsl:call-template>
            </xsl:for-each>
          </xsl:for-each>
          <xsl:text>XE</xsl:text>
          <xsl:value-of select="$N"/>
        </xsl:when>
        <xsl:otherwise>
          <xsl:text>U</xsl:text>
          <xsl:call-template name="text"><xsl:with-param name="value" select="local-name()"/></xsl:call-template>
          <xsl:value-of select="$N"/>
        </xsl:otherwise>
      </xsl:choose>
    </xsl:for-each>
  </xsl:template>

  <!-- S (or X for a multiplexer) name offset length endianess notes type slope intercept
       unit min max, then its consumers (C) and labels (L value name type, LG from to name
       type). -->
  <xsl:template name="signal">
    <xsl:param name="kind"/>
    <xsl:variable name="value" select="*[local-name() = 'Value']"/>
    <xsl:value-of select="$kind"/>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'name'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'offset'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'length'"/></xsl:call-template>
    <xsl:call-template name="attribute"><xsl:with-param name="name" select="'endianess'"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="*[local-name() = 'Notes']"/></xsl:call-template>
    <xsl:variable name="v" select="$value[1]"/>
    <xsl:call-template name="text"><xsl:with-param name="value" select="normalize-space($v/@type)"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="normalize-space($v/@slope)"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="normalize-space($v/@intercept)"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="$v/@unit"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="normalize-space($v/@min)"/></xsl:call-template>
    <xsl:call-template name="text"><xsl:with-param name="value" select="normalize-space($v/@max)"/></xsl:call-template>
    <xsl:value-of select="$N"/>
    <xsl:for-each select="*[local-name() = 'Consumer']/*[local-name() = 'NodeRef']">
      <xsl:text>C</xsl:text>
      <xsl:call-template name="attribute"><xsl:with-param name="name" select="'id'"/></xsl:call-template>
      <xsl:value-of select="$N"/>
    </xsl:for-each>
    <xsl:for-each select="*[local-name() = 'LabelSet']/*">
      <xsl:choose>
        <xsl:when test="local-name() = 'Label'">
          <xsl:text>L</xsl:text>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'value'"/></xsl:call-template>
          <xsl:call-template name="text"><xsl:with-param name="value" select="@name"/></xsl:call-template>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'type'"/></xsl:call-template>
          <xsl:value-of select="$N"/>
        </xsl:when>
        <xsl:when test="local-name() = 'LabelGroup'">
          <xsl:text>LG</xsl:text>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'from'"/></xsl:call-template>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'to'"/></xsl:call-template>
          <xsl:call-template name="text"><xsl:with-param name="value" select="@name"/></xsl:call-template>
          <xsl:call-template name="attribute"><xsl:with-param name="name" select="'type'"/></xsl:call-template>
          <xsl:value-of select="$N"/>
        </xsl:when>
      </xsl:choose>
    </xsl:for-each>
    <xsl:if test="count($value) &gt; 1">
      <xsl:text>U</xsl:text>
      <xsl:call-template name="text"><xsl:with-param name="value" select="concat('second Value of signal ', @name)"/></xsl:call-template>
      <xsl:value-of select="$N"/>
    </xsl:if>
  </xsl:template>
</xsl:stylesheet>
