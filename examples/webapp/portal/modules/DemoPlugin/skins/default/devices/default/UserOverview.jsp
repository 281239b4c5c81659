<%@ page contentType="text/html; charset=UTF-8" %>
<h1>User overview</h1>
